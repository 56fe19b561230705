// Version folders for the publisher's tests, and the launcher's own way of
// installing and patching a game from a published tree.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "patch/QoPatchUser.h"
#include "tools/publisher/ServerTreePublisher.h"

namespace publishtest {

// Relative name ("/" separators) -> bytes.
using VersionFiles = std::map<std::string, std::string>;

struct VersionInput {
  std::string version;
  VersionFiles files;
};

// Three game versions that between them add, change (by delta and whole),
// delete, move to another folder and empty files, turn a file's name into a
// folder, carry a large file that travels LZMA-chunked and then by delta,
// files that begin with "LZMA" or a marker, and names that differ only in
// letter case. The first folder also holds a stale "GameInfo.ini".
std::vector<VersionInput> ThreeGameVersions();

// One launcher version.
VersionInput LauncherVersion();

// Writes the files below `folder`.
void WriteVersion(const std::filesystem::path& folder, const VersionFiles& files);

// Writes each version below `root`/<version> and returns the sources.
std::vector<VersionSource> WriteVersions(const std::filesystem::path& root, const std::vector<VersionInput>& versions);

// Settings that make several packages and LZMA containers of several chunks
// from the versions above.
PublishSettings SmallLimits(PublishSettings settings);

// Installs the pages of `version` from the tree at `base` into `game` with
// the launcher's applier, working from `game`/launcher as the launcher does.
// Returns the applier's result.
CpUserResult InstallPages(const std::filesystem::path& base, const std::string& version,
                          const std::filesystem::path& game);

// Applies the patch from `from` to `to` of the tree at `base` to `game`, as
// the patch procedure does. Returns the applier's result.
CpUserResult ApplyPatch(const std::filesystem::path& base, const std::string& from, const std::string& to,
                        const std::filesystem::path& game);

}  // namespace publishtest
