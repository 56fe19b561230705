// The text files of an update-server tree: version files, version file lists
// ("GameInfo.ini"), patch and installation descriptions, and the patch list
// "AutoPatch.ini". Lines end in "\r\n"; no field is ever left empty (the
// launcher splits fields with strtok, so an empty one would shift the rest).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "patch/QoPatchInfo.h"
#include "tools/publisher/SourceTree.h"

// "<version>\r\n".
std::string FormatVersionFile(std::string_view version);

// [Version] Version and [FileList] FileCount, File<i> = "name,MD5,CRC,size,1"
// in the order given. The check flag 1 puts every file into the flagged-only
// repair as well.
std::string FormatVersionList(std::string_view version, const std::vector<SourceFile>& files);

// [PatchVersion] VersionOld, VersionNew; [Packages] PackageNum, Package<i> =
// "name,fileCount,size,md5"; and for each package with files a section
// Package<i> with File<k> = "name,type,extra,md5,sourceMd5". fileCount is
// taken from the package's files.
std::string FormatDescription(std::string_view versionOld, std::string_view versionNew,
                              const std::vector<PackageInfo>& packages);

// A patch from one version to the next.
struct PatchStep {
  std::string from;
  std::string to;
};

// [PatchHistory] PatchNum, VersionNow and a section Patch_<i> per patch.
// Without patches PatchNum is 1 and the one announced section is absent: the
// launcher refuses a list with PatchNum 0, and skips a missing section, so an
// installed current version then counts as up to date.
std::string FormatPatchList(std::string_view versionNow, const std::vector<PatchStep>& patches);

// Writes `text` to `path`, in the protected form when `protect` is set.
// False with `error` when the file would be too large for the launcher's
// readers (PROTECTED_FILE_MAX) or cannot be written.
[[nodiscard]] bool WriteServerText(const std::string& path, std::string_view text, bool protect, std::string& error);
