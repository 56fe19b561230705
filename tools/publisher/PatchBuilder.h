// One incremental patch between two versions of the game: the files it adds
// (type 1), changes (type 2) and deletes (type 3), their analysis files, and
// the zip packages that carry them. The new version's "GameInfo.ini" travels
// as the last changed file, so that an applied patch leaves the new list
// behind and the installed version only moves on once every other file is in
// place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/QoPatchInfo.h"
#include "tools/publisher/AnalysisFileMaker.h"
#include "tools/publisher/SourceTree.h"

struct PatchSide {
  const std::vector<SourceFile>* files = nullptr;  // sorted by name
  SourceFile list;                                 // the published "GameInfo.ini" of the version
};

struct PatchSettings {
  uint64_t maxPackageSize = 0;
  AnalysisSettings analysis;
};

// Writes the packages "package<i>.zip" of the patch from `from` to `to` into
// `patchFolder` and fills `packages` for its description: package names,
// sizes, MD5s and files. Deletions come first (in package 0), so that the
// name of a deleted file may become a folder. Work files go to `workFolder`.
// False with `error` when the patch cannot be made: `to` turns a folder of
// `from` into a file (the launcher never removes folders), two files would
// meet in the applier's staging folder, or a file, delta or package cannot be
// written.
[[nodiscard]] bool BuildPatchPackages(const PatchSide& from, const PatchSide& to, const std::string& patchFolder,
                                      const std::string& workFolder, const PatchSettings& settings,
                                      std::vector<PackageInfo>& packages, std::string& error);
