#include "tools/publisher/ServerLayout.h"

#include "Procedure/LauncherConfig.h"
#include "platform/SystemPath.h"

namespace {

// A procedure's suffix ("\GameVersion\Game_") as a path below the base.
std::string BelowBase(std::string_view suffix) {
  if (suffix.starts_with('\\')) suffix.remove_prefix(1);
  return ToSystemPath(suffix);
}

VersionTreeLayout LayoutOf(const ProcedurePaths& paths) {
  return {BelowBase(paths.firstDownloadSuffix), BelowBase(paths.folderSuffix)};
}

}  // namespace

VersionTreeLayout LauncherTreeLayout() { return LayoutOf(kSelfPatchPaths); }
VersionTreeLayout GameTreeLayout() { return LayoutOf(kGameRepairPaths); }
VersionTreeLayout InstallTreeLayout() { return LayoutOf(kGameInstallPaths); }

std::string InstallDescriptionName(std::string_view version) { return "intallinfo_" + std::string(version) + ".ini"; }

std::string PatchListPath() { return BelowBase(kGamePatchPaths.firstDownloadSuffix); }

std::string PatchFolderPrefix() { return BelowBase(kGamePatchPaths.folderSuffix); }

std::string PatchFolder(std::string_view from, std::string_view to) {
  return PatchFolderPrefix() + std::string(from) + "_" + std::string(to);
}

std::string PatchDescriptionName(std::string_view from, std::string_view to) {
  return "patchinfo_" + std::string(from) + "_" + std::string(to) + ".ini";
}
