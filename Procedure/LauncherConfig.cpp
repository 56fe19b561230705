#include "Procedure/LauncherConfig.h"

#include <utility>

#include "BuildSettings.h"
#include "platform/PrivateProfile.h"
#include "platform/TempFolder.h"

namespace {

constexpr const char* kGameCode = "KVMETRA";

}  // namespace

std::string PrimaryServerBase() { return std::string(LAUNCHER_PRIMARY_ROOT) + "/" + kGameCode; }

std::string BackupServerBase() { return std::string(LAUNCHER_BACKUP_ROOT) + "/" + kGameCode; }

std::string ReadConfigUrl(const ConfigUrlKey& key, const std::string& configPath) {
  std::string value = GetPrivateProfileString(key.section, key.key, "", kConfigValueBufferSize, configPath);
  if (!value.empty()) return value;
  return key.defaultsToBackupBase ? BackupServerBase() : std::string();
}

bool IsSelfPatchSkipped(const std::string& configPath) {
  return GetPrivateProfileInt("debug", "debug", 0, configPath) == 1;
}

ServerAddresses MakeServerAddresses(const ProcedurePaths& paths, std::string base) {
  std::string firstDownload = base + std::string(paths.firstDownloadSuffix);
  std::string folderPrefix = base + std::string(paths.folderSuffix);
  return {std::move(base), std::move(firstDownload), std::move(folderPrefix)};
}

std::string DecipheredListPath() {
  std::string folder = GetTempFolderPath();
  if (folder.empty()) return std::string();
  return folder + "\\" + kDecipheredListName;
}
