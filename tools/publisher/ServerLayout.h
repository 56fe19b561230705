// Where the files of an update-server tree lie below the server base. The
// folders and prefixes come from the suffixes that the launcher's procedures
// download from, so the publisher and the launcher share one definition.
// Paths are relative to the base, in the system's "/" form.
#pragma once

#include <string>
#include <string_view>

// The version file list in every version folder, in the installed game and in
// every patch.
inline constexpr const char* kVersionListName = "GameInfo.ini";

// A tree of versions: a version file naming the current version, and one
// folder per version, prefix + version.
struct VersionTreeLayout {
  std::string versionFile;   // "GameVersion/version"
  std::string folderPrefix;  // "GameVersion/Game_"

  std::string Folder(std::string_view version) const { return folderPrefix + std::string(version); }
};

VersionTreeLayout LauncherTreeLayout();  // self-update: lists and files
VersionTreeLayout GameTreeLayout();      // game repair: lists and files
VersionTreeLayout InstallTreeLayout();   // game install: description and pages

// "intallinfo_<V>.ini", in the install folder of V.
std::string InstallDescriptionName(std::string_view version);

// "AutoPatch/AutoPatch.ini".
std::string PatchListPath();
// "AutoPatch/AutoPatch_": the start of every patch folder.
std::string PatchFolderPrefix();
// "AutoPatch/AutoPatch_<F>_<T>".
std::string PatchFolder(std::string_view from, std::string_view to);
// "patchinfo_<F>_<T>.ini", in the patch folder.
std::string PatchDescriptionName(std::string_view from, std::string_view to);
