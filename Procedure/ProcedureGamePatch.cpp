#include "Procedure/ProcedureGamePatch.h"

#include <filesystem>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "Procedure/LauncherConfig.h"
#include "Procedure/PackageFetch.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/RunningClient.h"
#include "Procedure/ServerVersionFile.h"
#include "patch/QoPatchInfo.h"
#include "patch/QoPatchUser.h"
#include "patch/QoVersionRepairInfo.h"
#include "platform/PrivateProfile.h"
#include "platform/SystemPath.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

using enum PatchResult;

namespace {

constexpr const char* kSourceName = "Procedure\\ProcedureGamePatch.cpp";
constexpr int kGameInfoMissingLine = 66;
constexpr int kGameInfoUnreadableLine = 73;
constexpr int kLocalVersionEmptyLine = 79;
constexpr int kPatchListLine = 95;
constexpr int kUnsafeVersionLine = 110;
constexpr int kListDownloadLine = 163;
constexpr int kListParseLine = 176;
constexpr int kTerminateLine = 210;
constexpr int kDescriptionDownloadLine = 266;
constexpr int kDescriptionVersionLine = 280;
constexpr int kApplierLine = 424;

constexpr PackageFetchProfile kPackageProfile{
    kSourceName, UM_GAMEPATCH_TOTAL_SIZE, UM_GAMEPATCH_COUNT, UM_GAMEPATCH_DONE_SIZE, UM_GAMEPATCH_INDEX,
    0,    // no message before a download
    296,  // sizing pass: entry without characters
    304,  // sizing pass: fewer than four pieces
    333,  // fetch pass: entry without characters
    341,  // fetch pass: fewer than four pieces
    310,  // unsafe package name
    382,  // no address answered
    394,  // wrong MD5
    398,  // third attempt failed
};

// Texts of the patch list are read into 260-byte buffers, and so are the
// description names formatted.
constexpr size_t kTextBufferSize = 260;
constexpr size_t kNameLimit = kTextBufferSize - 1;

WParam TextArg(const std::string& text) { return reinterpret_cast<WParam>(text.c_str()); }

std::string ReadListText(const PrivateProfileSnapshot& list, const std::string& section, const char* key) {
  return list.GetString(section, key, "", kTextBufferSize);
}

// "<F>_<T>": the patch's folder below the folder prefixes, "AutoPatch_" included there.
std::string PatchName(const ProcedureGamePatch::PatchEntry& patch) { return patch.strVerFrom + "_" + patch.versionTo; }

// The last component of the folder suffix, "AutoPatch_": local patch
// folders are named like the remote ones.
std::string LocalFolderPrefix() {
  const std::string_view suffix = kGamePatchPaths.folderSuffix;
  return std::string(suffix.substr(suffix.rfind('\\') + 1));
}

// Nothing when every package is present.
std::optional<PatchResult> ResultOfFetch(PackageFetchResult result) {
  switch (result) {
    case PackageFetchResult::kPresent: break;
    case PackageFetchResult::kCancelled: return PATCH_CANCELLED;
    case PackageFetchResult::kSizingFailed:
    case PackageFetchResult::kEntryFailed: return PATCH_DESCRIPTION_FAILED;
    case PackageFetchResult::kDownloadFailed: return PATCH_DOWNLOAD_FAILED;
  }
  return std::nullopt;
}

}  // namespace

ProcedureGamePatch::ProcedureGamePatch(DownloadFunction download) : servers_(kGamePatchPaths, std::move(download)) {}

ProcedureGamePatch::~ProcedureGamePatch() = default;

void ProcedureGamePatch::Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) {
  ProcedureBase::Init(mainWindow, configPath, stopEvent);
  SetServerUrl1(ReadConfigUrl(kGameUrlKey, configPath));
  SetServerUrl2(PrimaryServerBase());
  SetServerUrl3(PrimaryServerBase());
}

void ProcedureGamePatch::SetServerUrl1(std::string baseUrl) { servers_.SetBase(1, std::move(baseUrl)); }
void ProcedureGamePatch::SetServerUrl2(std::string baseUrl) { servers_.SetBase(2, std::move(baseUrl)); }
void ProcedureGamePatch::SetServerUrl3(std::string baseUrl) { servers_.SetBase(3, std::move(baseUrl)); }

bool ProcedureGamePatch::ParseVersionNow() {
  const std::string path = kGameListPath;
  if (!IsPathExist(path)) {
    WriteSourceLineLog(kSourceName, kGameInfoMissingLine, "ParseVersionNow  FileExist filepath =%s", path.c_str());
    return false;
  }
  // The version-only read sends nothing, although the reader has the window.
  QoVersionRepairInfo installed(MainWindow());
  if (!installed.InputVerRepairInfoFile(path)) {
    WriteSourceLineLog(kSourceName, kGameInfoUnreadableLine, "ParseVersionNow  InputVerRepairInfoFile filepath =%s",
                       path.c_str());
    return false;
  }
  m_strLocalVersion = installed.version();
  if (m_strLocalVersion.empty()) {
    WriteSourceLineLog(kSourceName, kLocalVersionEmptyLine,
                       "ParseVersionNow  LocalVersion.empty() m_strLocalVersion =%s", m_strLocalVersion.c_str());
    return false;
  }
  return true;
}

bool ProcedureGamePatch::ParseAllPatchList() {
  // One read of the list, and only the sections it holds are visited: a
  // missing section is skipped anyway, and PatchNum may announce billions.
  const PrivateProfileSnapshot list(kGamePatchPaths.firstDownloadCopy);
  const int patchCount = list.GetInt("PatchHistory", "PatchNum", 0);
  m_strNowVersion = ReadListText(list, "PatchHistory", "VersionNow");
  if (patchCount <= 0 || m_strNowVersion.empty()) {
    WriteSourceLineLog(kSourceName, kPatchListLine, "patchCount <= 0 || m_strNowVersion.empty()");
    return false;
  }

  table_.clear();
  for (int i : NumberedIndices(list.Sections(), "patch_", patchCount)) {
    const std::string section = "Patch_" + std::to_string(i);
    PatchEntry patch{ReadListText(list, section, "VersionFrom"), ""};
    if (patch.strVerFrom.empty()) continue;
    patch.versionTo = ReadListText(list, section, "VersionTo");
    if (patch.versionTo.empty()) continue;
    // The versions name the patch's staging folder, which is deleted whole.
    for (const std::string* version : {&patch.strVerFrom, &patch.versionTo}) {
      if (!IsVersionNameSafe(*version)) {
        WriteSourceLineLog(kSourceName, kUnsafeVersionLine, "ParseAllPatchList unsafe version =%s", version->c_str());
        return false;
      }
    }
    table_.insert_or_assign(patch.strVerFrom, std::move(patch));
  }
  WriteLaunchLog("GameVersion Mate LocalVersion = %s ", m_strLocalVersion.c_str());

  // Entries leave the table as they join the chain, so a cycle ends the walk.
  chain_.clear();
  for (auto next = table_.find(m_strLocalVersion); next != table_.end(); next = table_.find(chain_.back().versionTo)) {
    chain_.push_back(std::move(next->second));
    table_.erase(next);
  }
  return true;
}

ProcedureResult ProcedureGamePatch::Run() {
  if (!ParseVersionNow()) return PATCH_LOCAL_VERSION_FAILED;
  const std::string list(kGamePatchPaths.firstDownloadCopy);
  if (!CreateDirectoryForPath(list, true)) return PATCH_FOLDER_FAILED;
  const int32_t cookie = DownloadCookie();
  bool listed = servers_.DownloadFirstFrom(1, list, cookie, kListMaxBytes);
  if (!listed) {
    WriteSourceLineLog(kSourceName, kListDownloadLine, "Analysis Error, DownloadFile error  ");
    listed = servers_.DownloadFirstFrom(2, list, cookie, kListMaxBytes) ||
             servers_.DownloadFirstFrom(3, list, cookie, kListMaxBytes);
  }
  if (!listed) return PATCH_DOWNLOAD_FAILED;
  if (!ParseAllPatchList()) {
    WriteSourceLineLog(kSourceName, kListParseLine, "Analysis Error, ParseAllPatchList error  ");
    return PATCH_LIST_UNREADABLE;
  }

  DeleteStaleDownloads();

  if (chain_.empty()) {
    if (m_strLocalVersion != m_strNowVersion) return PATCH_NO_PATH;
    SendMessageTo(MainWindow(), UM_LATEST_VERSION, TextArg(m_strNowVersion));
    SendMessageTo(MainWindow(), UM_CURRENT_VERSION, TextArg(m_strLocalVersion));
    return PATCH_UP_TO_DATE;
  }
  if (!EndRunningClient(MainWindow(), kSourceName, kTerminateLine)) return PATCH_GAME_RUNNING;
  SendMessageTo(MainWindow(), UM_GAMEPATCH_UPDATING);

  for (const PatchEntry& patch : chain_) {
    if (const std::optional<PatchResult> failure = ApplyPatch(patch)) return *failure;
  }
  SendMessageTo(MainWindow(), UM_LATEST_VERSION, TextArg(m_strNowVersion));
  SendMessageTo(MainWindow(), UM_CURRENT_VERSION, TextArg(m_strNowVersion));
  return PATCH_APPLIED;
}

void ProcedureGamePatch::DeleteStaleDownloads() const {
  static_cast<void>(DeleteDirectoryTree(std::string(kGameInstallPaths.tempFolder)));
  namespace fs = std::filesystem;
  std::set<std::string> current;
  for (const PatchEntry& patch : chain_) current.insert(LocalFolderPrefix() + PatchName(patch));
  const std::string folder(kGamePatchPaths.tempFolder);
  std::vector<std::string> others;
  std::error_code error;
  for (fs::directory_iterator it(ToSystemPath(folder), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(LocalFolderPrefix()) && current.count(name) == 0) others.push_back(name);
  }
  for (const std::string& name : others) static_cast<void>(DeleteDirectoryTree(folder + "\\" + name));
}

std::optional<PatchResult> ProcedureGamePatch::ApplyPatch(const PatchEntry& patch) {
  const std::string& from = patch.strVerFrom;
  const std::string& to = patch.versionTo;
  const std::string folder = std::string(kGamePatchPaths.tempFolder) + "\\" + LocalFolderPrefix() + PatchName(patch);
  SendMessageTo(MainWindow(), UM_LATEST_VERSION, TextArg(to));
  SendMessageTo(MainWindow(), UM_CURRENT_VERSION, TextArg(chain_.back().strVerFrom));

  const std::string descriptionName = ("patchinfo_" + from + "_" + to + ".ini").substr(0, kNameLimit);
  const std::string description = folder + "\\" + descriptionName;
  if (!CreateDirectoryForPath(folder, false)) return PATCH_FOLDER_FAILED;
  WriteLaunchLog("start game autopatch %s --> %s ", from.c_str(), to.c_str());
  SendMessageTo(MainWindow(), UM_GAMEPATCH_DOWNLOAD_BEGIN);
  if (!servers_.DownloadFromFolders(PatchName(patch) + "\\" + descriptionName, description, DownloadCookie(),
                                    kListMaxBytes)) {
    WriteSourceLineLog(kSourceName, kDescriptionDownloadLine, "DownloadFile");
    return PATCH_DESCRIPTION_FAILED;
  }
  // Also turns a protected description into its plain form, which the
  // package passes read. A description that cannot be read has no versions,
  // which the check below reports.
  QoPatchInfo info;
  static_cast<void>(info.InputPatchInfoFile(description));
  if (info.versionOld() != from || info.versionNew() != to) {
    WriteSourceLineLog(kSourceName, kDescriptionVersionLine,
                       "patchInfo version not mate VersionOld=%s VersionNew=%s patch=%s --> %s",
                       info.versionOld().c_str(), info.versionNew().c_str(), from.c_str(), to.c_str());
    return PATCH_DESCRIPTION_FAILED;
  }

  const PackageFetch packages(kPackageProfile, servers_, DownloadCookie(), MainWindow(),
                              [this] { return IsStopRequested(); });
  if (std::optional<PatchResult> failure = ResultOfFetch(packages.Run(description, folder, PatchName(patch)))) {
    return failure;
  }

  const std::string gameFolder(kGamePatchPaths.targetFolder);
  WriteLaunchLog("start PatchUser OldVersion:%s patchFileDir:%s ", gameFolder.c_str(), folder.c_str());
  QoPatchUser applier(MainWindow());
  applier.SetPatchFile(descriptionName, folder);
  applier.SetGameFolder(gameFolder);
  const CpUserResult applied = applier.UpdatePatchFile();
  WriteLaunchLog("PatchUser return: %d", static_cast<int32_t>(applied));
  if (applied != CpUserResult::CP_USER_SUCCESS) {
    WriteSourceLineLog(kSourceName, kApplierLine, "ret != CP_USER_SUCCESS");
    return PATCH_APPLY_FAILED;
  }
  // The patch is applied; a download folder left behind only takes space.
  static_cast<void>(DeleteDirectoryTree(folder));
  return std::nullopt;
}
