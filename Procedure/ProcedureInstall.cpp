#include "Procedure/ProcedureInstall.h"

#include <utility>

#include "Procedure/PackageFetch.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/ServerVersionFile.h"
#include "patch/QoPatchUser.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

using enum InstallResult;

namespace {

constexpr const char* kSourceName = "Procedure\\ProcedureInstall.cpp";
constexpr int kUnsafeVersionLine = 70;
constexpr int kDescriptionDownloadLine = 91;
constexpr int kApplierLine = 232;

constexpr PackageFetchProfile kPageProfile{
    kSourceName,
    UM_INSTALL_TOTAL_SIZE,
    UM_INSTALL_PAGE_COUNT,
    UM_INSTALL_DONE_SIZE,
    UM_INSTALL_PAGE_INDEX,
    UM_INSTALL_TIMER_START,
    110,  // sizing pass: entry without characters
    118,  // sizing pass: fewer than four pieces
    148,  // fetch pass: entry without characters
    157,  // fetch pass: fewer than four pieces
    120,  // unsafe page name
    194,  // no address answered
    206,  // wrong MD5
    210,  // third attempt failed
};

// The last component of a folder suffix ("\InstallVersion\InstallPage_"
// gives "InstallPage_"): the local page folders are named like the remote ones.
std::string LastComponent(std::string_view suffix) { return std::string(suffix.substr(suffix.rfind('\\') + 1)); }

InstallResult ResultOfFetch(PackageFetchResult result) {
  switch (result) {
    case PackageFetchResult::kPresent: break;
    case PackageFetchResult::kCancelled: return INSTALL_CANCELLED;
    case PackageFetchResult::kSizingFailed: return INSTALL_DESCRIPTION_UNREADABLE;
    case PackageFetchResult::kEntryFailed: return INSTALL_PAGE_ENTRY_UNREADABLE;
    case PackageFetchResult::kDownloadFailed: return INSTALL_PAGE_DOWNLOAD_FAILED;
  }
  return INSTALL_DONE;
}

}  // namespace

ProcedureInstall::ProcedureInstall(DownloadFunction download, const ProcedurePaths& paths, const ConfigUrlKey& urlKey)
    : paths_(paths), urlKey_(urlKey), servers_(paths, std::move(download)) {}

ProcedureInstall::~ProcedureInstall() = default;

void ProcedureInstall::Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) {
  ProcedureBase::Init(mainWindow, configPath, stopEvent);
  SetServerUrl1(ReadConfigUrl(urlKey_, configPath));
  SetServerUrl2(PrimaryServerBase());
  SetServerUrl3(PrimaryServerBase());
}

void ProcedureInstall::SetServerUrl1(std::string baseUrl) { servers_.SetBase(1, std::move(baseUrl)); }
void ProcedureInstall::SetServerUrl2(std::string baseUrl) { servers_.SetBase(2, std::move(baseUrl)); }
void ProcedureInstall::SetServerUrl3(std::string baseUrl) { servers_.SetBase(3, std::move(baseUrl)); }

ProcedureResult ProcedureInstall::Run() {
  WriteLaunchLog("Start Install Game Page!");
  const int32_t cookie = DownloadCookie();
  const std::string versionFile(paths_.firstDownloadCopy);
  // A missing folder makes the download fail, which is reported.
  static_cast<void>(CreateDirectoryForPath(versionFile, true));
  if (!servers_.DownloadFirst(versionFile, cookie, kVersionFileMaxBytes)) return INSTALL_VERSION_DOWNLOAD_FAILED;
  std::string version;
  if (!ReadServerVersion(versionFile, version)) return INSTALL_VERSION_UNREADABLE;
  if (!IsVersionNameSafe(version)) {
    WriteSourceLineLog(kSourceName, kUnsafeVersionLine, "unsafe version =%s", version.c_str());
    return INSTALL_VERSION_UNREADABLE;
  }
  SendMessageTo(MainWindow(), UM_LATEST_VERSION, reinterpret_cast<WParam>(version.c_str()));
  SendMessageTo(MainWindow(), UM_CURRENT_VERSION, reinterpret_cast<WParam>(version.c_str()));

  const std::string pageFolder = std::string(paths_.tempFolder) + "\\" + LastComponent(paths_.folderSuffix) + version;
  const std::string descriptionName = "intallinfo_" + version + ".ini";
  const std::string description = pageFolder + "\\" + descriptionName;
  if (!CreateDirectoryForPath(description, true)) return INSTALL_FOLDER_FAILED;
  if (!servers_.DownloadFromFolders(version + "\\" + descriptionName, description, cookie, kListMaxBytes)) {
    WriteSourceLineLog(kSourceName, kDescriptionDownloadLine, "DownloadFile");
    return INSTALL_DESCRIPTION_DOWNLOAD_FAILED;
  }

  const PackageFetch pages(kPageProfile, servers_, cookie, MainWindow(), [this] { return IsStopRequested(); });
  const InstallResult fetched = ResultOfFetch(pages.Run(description, pageFolder, version));
  if (fetched != INSTALL_DONE) return fetched;

  QoPatchUser applier(MainWindow());
  applier.SetInstallFile(description, pageFolder);
  const CpUserResult applied = applier.InstallGamePage();
  WriteLaunchLog("PatchUser return: %d", static_cast<int32_t>(applied));
  if (applied != CpUserResult::CP_USER_SUCCESS) {
    WriteSourceLineLog(kSourceName, kApplierLine, "ret != CP_USER_SUCCESS");
    return INSTALL_UNPACK_FAILED;
  }
  // The game is installed; a page folder left behind only takes space.
  static_cast<void>(DeleteDirectoryTree(pageFolder));
  return INSTALL_DONE;
}
