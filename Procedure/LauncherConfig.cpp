#include "Procedure/LauncherConfig.h"

#include <utility>

#include "BuildSettings.h"
#include "Procedure/AcceptedSerial.h"
#include "patch/QoPatchUser.h"
#include "patch/SafeName.h"
#include "platform/AsciiText.h"
#include "platform/PrivateProfile.h"
#include "platform/TempFolder.h"
#include "util/LaunchLog.h"

namespace {

constexpr const char* kGameCode = "KVMETRA";

// The launcher's own folders start with this.
constexpr std::string_view kWorkingFolderPrefix = "temp_";

// `path` without a leading ".\" and a trailing "\".
constexpr std::string_view BareName(std::string_view path) {
  if (path.starts_with(".\\")) path.remove_prefix(2);
  if (path.ends_with('\\')) path.remove_suffix(1);
  return path;
}

constexpr std::string_view kLauncherWorkingNames[] = {
    kRunningCopyName,
    kLaunchLogName,
    kLaunchLogBackupName,
    BareName(kLauncherConfigPath),
    BareName(kLauncherListPath),
    kLauncherLockName,
    BareName(kAcceptedSerialPath),
    BareName(kStagingFolder),
};

}  // namespace

std::string PrimaryServerBase() { return std::string(LAUNCHER_PRIMARY_ROOT) + "/" + kGameCode; }

std::string BackupServerBase() { return std::string(LAUNCHER_BACKUP_ROOT) + "/" + kGameCode; }

std::string_view SigningPublicKey() { return LAUNCHER_SIGNING_PUBLIC_KEY; }

std::string ReadConfigUrl(const ConfigUrlKey& key, const std::string& configPath) {
  std::string value = GetPrivateProfileString(key.section, key.key, "", kConfigValueBufferSize, configPath);
  if (!value.empty()) return value;
  return key.defaultsToBackupBase ? BackupServerBase() : std::string();
}

bool IsSelfPatchSkipped(const std::string& configPath) {
  return GetPrivateProfileInt("debug", "debug", 0, configPath) == 1;
}

uint64_t ReadDownloadSpeedLimit(const std::string& configPath) {
  const int kibPerSecond = GetPrivateProfileInt("download", "maxKiBps", 0, configPath);
  return kibPerSecond > 0 ? static_cast<uint64_t>(kibPerSecond) * 1024 : 0;
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

bool IsLauncherWorkingName(std::string_view name) {
  // The first component that names something ("." and empty ones do not).
  const std::string path = FileSystemName(name);
  const std::string_view first = std::string_view(path).substr(0, path.find('/'));
  if (EqualsIgnoreCase(first.substr(0, kWorkingFolderPrefix.size()), kWorkingFolderPrefix)) return true;
  for (std::string_view working : kLauncherWorkingNames) {
    if (EqualsIgnoreCase(first, working)) return true;
  }
  return false;
}
