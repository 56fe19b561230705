// Writes a complete update-server tree below one base folder from the folders
// of the launcher's and the game's versions:
//   LauncherVersion/version, LauncherVersion/Launcher_<V>/ (list and files)
//   GameVersion/version, GameVersion/Game_<V>/ (list and files)
//   InstallVersion/version, InstallVersion/InstallPage_<V>/ (description
//     "intallinfo_<V>.ini" and zip pages "page<i>.zip")
//   AutoPatch/AutoPatch.ini, AutoPatch/AutoPatch_<F>_<T>/ (description
//     "patchinfo_<F>_<T>.ini" and packages "package<i>.zip")
// Every version given gets its list folder and its installation pages; the
// version files name the last one, and a patch leads from each game version
// to the next.
//
// The tree is written into a fresh folder beside the base and moved into
// place at the end, so a failure leaves no half-written tree. The same
// inputs give the same bytes. One call at a time per output folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/publisher/LzmaChunkWriter.h"
#include "tools/publisher/ServerTreeSigning.h"

struct VersionSource {
  std::string version;
  std::string folder;
};

struct PublishSettings {
  std::string outputFolder;                                     // must be missing or empty
  std::vector<VersionSource> launcherVersions;                  // oldest first; may be empty
  std::vector<VersionSource> gameVersions;                      // oldest first; may be empty
  bool protect = true;                                          // lists and patch descriptions in the protected form
  uint64_t maxPackageSize = 64ull << 20;                        // installation pages and patch packages
  uint64_t lzmaThreshold = 1ull << 20;                          // larger patch files travel LZMA-chunked
  uint32_t lzmaChunkSize = LzmaChunkWriter::kDefaultChunkSize;  // decoded bytes per LZMA record
  TreeSigning signing;                                          // a private key: "<name>.sig" by each signed file
  std::function<void(const std::string&)> progress;             // one line per step; may be empty
};

// Writes the tree. False with `error` when the settings are unusable (no
// version, a version text that cannot be published, a version given twice,
// an output folder that holds files, a limit of 0), a version folder cannot
// be published (see ScanSourceTree; a launcher version folder may not hold
// the launcher's working files, see CheckLauncherFileName), a patch cannot
// be made (see BuildPatchPackages), a file cannot be written, or, with a
// signing key, a version would put a file where a signature file goes.
//
// The installation description is always plain: the launcher's install reads
// its page list from the file as downloaded, and a protected one would list
// no pages.
[[nodiscard]] bool PublishServerTree(const PublishSettings& settings, std::string& error);
