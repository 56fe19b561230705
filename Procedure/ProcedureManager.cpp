#include "Procedure/ProcedureManager.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <utility>

#include "Procedure/DownloadService.h"
#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/RunningClient.h"
#include "platform/Clock.h"
#include "transfer/CAutoDownload_Curl.h"
#include "transfer/CAutoDownload_DownAnt.h"
#include "util/LaunchLog.h"

using enum ProcedureId;
using enum RepairResult;
using enum InstallResult;
using enum PatchResult;

namespace {

constexpr const char* kSourceName = "Procedure\\ProcedureManager.cpp";
constexpr int kTerminateErrorLine = 813;

// How often the destructor looks whether the workers have ended while it
// delivers their messages.
constexpr std::chrono::milliseconds kShutdownPoll{5};

// The table's keys, in the order the factory is asked.
constexpr ProcedureId kProcedureIds[] = {PROC_SELF_PATCH, PROC_GAME_REPAIR, PROC_GAME_PATCH, PROC_GAME_REPAIR_FLAGGED,
                                         PROC_GAME_INSTALL};

struct ResultMessage {
  ProcedureResult result;
  MessageId message;
};

constexpr ResultMessage kSelfPatchResults[] = {
    {REPAIR_VERSION_DOWNLOAD_FAILED, UM_SELFPATCH_FAIL_DOWN_VERSION},
    {REPAIR_VERSION_UNREADABLE, UM_SELFPATCH_FAIL_READ_VERSION},
    {REPAIR_LIST_DOWNLOAD_FAILED, UM_SELFPATCH_FAIL_DOWN_GAMEINFO},
    {REPAIR_LIST_UNREADABLE, UM_SELFPATCH_FAIL_CMP_GAMEINFO},
    {REPAIR_TEMP_FOLDER_FAILED, UM_SELFPATCH_FAIL_CREATE_DIR},
    {REPAIR_FILE_DOWNLOAD_FAILED, UM_SELFPATCH_FAIL_DOWN_FILE},
    {REPAIR_FILE_COPY_FAILED, UM_SELFPATCH_FAIL_REPLACE_FILE},
    {REPAIR_LIST_COPY_FAILED, UM_SELFPATCH_FAIL_REPLACE_GAMEINFO},
    {REPAIR_UP_TO_DATE, UM_SELFPATCH_NONEED},
    {REPAIR_FILES_REPLACED, UM_SELFPATCH_DONE},
};

constexpr ResultMessage kGameRepairResults[] = {
    {REPAIR_VERSION_DOWNLOAD_FAILED, UM_REPAIR_FAIL_DOWN_VERSION},
    {REPAIR_VERSION_UNREADABLE, UM_REPAIR_FAIL_READ_VERSION},
    {REPAIR_LIST_DOWNLOAD_FAILED, UM_REPAIR_FAIL_DOWN_GAMEINFO},
    {REPAIR_LIST_UNREADABLE, UM_REPAIR_FAIL_CMP_GAMEINFO},
    {REPAIR_TEMP_FOLDER_FAILED, UM_REPAIR_FAIL_CREATE_DIR},
    {REPAIR_FILE_DOWNLOAD_FAILED, UM_REPAIR_FAIL_DOWN_FILE},
    {REPAIR_FILE_COPY_FAILED, UM_REPAIR_FAIL_REPLACE_FILE},
    {REPAIR_LIST_COPY_FAILED, UM_REPAIR_FAIL_REPLACE_GAMEINFO},
    {REPAIR_UP_TO_DATE, UM_REPAIR_NONEED},
    {REPAIR_FILES_REPLACED, UM_REPAIR_DONE},
};

constexpr ResultMessage kGamePatchResults[] = {
    {PATCH_LOCAL_VERSION_FAILED, UM_GAMEPATCH_FAIL_CHECK_GAMEINFO},
    {PATCH_FOLDER_FAILED, UM_GAMEPATCH_FAIL_CREATE_DIR},
    {PATCH_DOWNLOAD_FAILED, UM_GAMEPATCH_FAIL_PATCH_FILE},
    {PATCH_LIST_UNREADABLE, UM_GAMEPATCH_FAIL_ANALYSE},
    {PATCH_NO_PATH, UM_GAMEPATCH_FAIL_CLIENT_VERSION},
    {PATCH_GAME_RUNNING, UM_GAMEPATCH_FAIL_GAME_RUNNING},
    {PATCH_DESCRIPTION_FAILED, UM_GAMEPATCH_FAIL_DOWN_PATCH},
    {PATCH_APPLY_FAILED, UM_GAMEPATCH_FAIL_FILE_UPDATE},
    {PATCH_UP_TO_DATE, UM_GAMEPATCH_NONEED},
    {PATCH_APPLIED, UM_GAMEPATCH_DONE},
};

constexpr ResultMessage kGameInstallResults[] = {
    {INSTALL_CANCELLED, UM_INSTALL_FAIL_USER_CANCEL},
    {INSTALL_DONE, UM_INSTALL_DONE},
    {INSTALL_VERSION_DOWNLOAD_FAILED, UM_INSTALL_FAIL_DOWN_VERSION},
    {INSTALL_VERSION_UNREADABLE, UM_INSTALL_FAIL_READ_VERSION},
    {INSTALL_FOLDER_FAILED, UM_INSTALL_FAIL_CREATE_DIR},
    {INSTALL_DESCRIPTION_DOWNLOAD_FAILED, UM_INSTALL_FAIL_DOWN_INI},
    {INSTALL_DESCRIPTION_UNREADABLE, UM_INSTALL_FAIL_FILE_SIZE},
    {INSTALL_PAGE_ENTRY_UNREADABLE, UM_INSTALL_FAIL_ANALYSE},
    {INSTALL_PAGE_DOWNLOAD_FAILED, UM_INSTALL_FAIL_DOWN_PAGE},
    {INSTALL_UNPACK_FAILED, UM_INSTALL_FAIL_UNZIP_PAGE},
};

// What the worker of one procedure sends: its start message, and the final
// message for each result its table lists.
struct WorkerKind {
  ProcedureId procedureId;
  MessageId startMessage;
  std::span<const ResultMessage> results;
};

constexpr WorkerKind kWorkerKinds[] = {
    {PROC_SELF_PATCH, UM_SELFPATCH_START, kSelfPatchResults},
    {PROC_GAME_REPAIR, UM_REPAIR_START, kGameRepairResults},
    {PROC_GAME_PATCH, UM_GAMEPATCH_START, kGamePatchResults},
    {PROC_GAME_INSTALL, UM_INSTALL_START, kGameInstallResults},
};

// The worker kind of a startable procedure id.
const WorkerKind& KindOf(ProcedureId procedureId) {
  return *std::find_if(std::begin(kWorkerKinds), std::end(kWorkerKinds),
                       [procedureId](const WorkerKind& kind) { return kind.procedureId == procedureId; });
}

// The final message for `result`, or null when the table does not list it.
const MessageId* FinalMessage(const WorkerKind& kind, ProcedureResult result) {
  for (const ResultMessage& row : kind.results) {
    if (row.result == result) return &row.message;
  }
  return nullptr;
}

}  // namespace

ProcedureManager::ProcedureManager(const ProcedureFactory& factory) {
  for (ProcedureId id : kProcedureIds) {
    if (std::unique_ptr<ProcedureBase> procedure = factory(id, *this)) procedures_.emplace(id, std::move(procedure));
  }
  // Curl downloader 1 transfers every file; segmented downloader 1, curl
  // downloader 2 and segmented downloader 2 are made and destroyed only. A
  // curl downloader whose creation was refused stays null.
  downloaders_.push_back(CAutoDownload_Curl::Create());
  downloaders_.push_back(std::make_unique<CAutoDownload_DownAnt>());
  downloaders_.push_back(CAutoDownload_Curl::Create());
  downloaders_.push_back(std::make_unique<CAutoDownload_DownAnt>());
  const uint64_t speedLimit = ReadDownloadSpeedLimit();
  for (const std::unique_ptr<CAutoDownload>& downloader : downloaders_) {
    if (downloader) downloader->SetReceiveSpeedLimit(speedLimit);
  }
  downloads_ = std::make_unique<DownloadService>(downloaders_.front().get(), GetTickCount32);
}

ProcedureManager::~ProcedureManager() {
  Stop();
  ReleaseWorker();
  // A worker may be waiting in a send to a window of this thread.
  MessageLoop::RunUntil(
      [this] {
        return std::all_of(retired_.begin(), retired_.end(),
                           [](const std::unique_ptr<Worker>& worker) { return worker->ended.load(); });
      },
      kShutdownPoll);
  ReleaseWorker();
  downloads_.reset();
  procedures_.clear();
  for (std::unique_ptr<CAutoDownload>& downloader : downloaders_) downloader.reset();
}

void ProcedureManager::Init(MessageWindow* mainWindow) {
  mainWindow_ = mainWindow;
  stopEvent_.Reset();
  for (auto& [id, procedure] : procedures_) procedure->Init(mainWindow, kLauncherConfigPath, &stopEvent_);
  downloads_->Init(mainWindow);
}

bool ProcedureManager::StartSelfPatch() {
  if (!CanStart(PROC_SELF_PATCH)) return false;
  if (worker_ && !worker_->ended.load()) return false;
  StartWorker(PROC_SELF_PATCH);
  return true;
}

bool ProcedureManager::StartGamePatch(std::string baseUrl) {
  if (!CanStart(PROC_GAME_PATCH)) return false;
  FindProcedure(PROC_GAME_PATCH)->SetServerUrl1(std::move(baseUrl));
  StartWorker(PROC_GAME_PATCH);
  return true;
}

bool ProcedureManager::StartGameInstall(std::string baseUrl) {
  if (!CanStart(PROC_GAME_INSTALL)) return false;
  FindProcedure(PROC_GAME_INSTALL)->SetServerUrl1(std::move(baseUrl));
  StartWorker(PROC_GAME_INSTALL);
  return true;
}

bool ProcedureManager::StartGameRepair(std::string baseUrl) {
  if (!CanStart(PROC_GAME_REPAIR) || !EndRunningClient(mainWindow_, kSourceName, kTerminateErrorLine)) return false;
  FindProcedure(PROC_GAME_REPAIR)->SetServerUrl1(std::move(baseUrl));
  StartWorker(PROC_GAME_REPAIR);
  SendMessageTo(mainWindow_, UM_REPAIR_LAUNCHED);
  return true;
}

void ProcedureManager::Stop() {
  stopped_ = true;
  stopEvent_.Set();
  downloads_->Abandon();
}

bool ProcedureManager::DownloadFile(const std::string& url, const std::string& localPath, int32_t cookie,
                                    uint64_t maxBytes) {
  return downloads_->DownloadFile(url, localPath, cookie, maxBytes);
}

ProcedureBase* ProcedureManager::FindProcedure(ProcedureId id) const {
  const auto found = procedures_.find(id);
  return found == procedures_.end() ? nullptr : found->second.get();
}

bool ProcedureManager::CanStart(ProcedureId id) const {
  if (stopped_ || FindProcedure(id) == nullptr) return false;
  const auto inRun = [id](const std::unique_ptr<Worker>& worker) {
    return worker->procedureId == id && !worker->procedureDone.load();
  };
  return !(worker_ && inRun(worker_)) && std::none_of(retired_.begin(), retired_.end(), inRun);
}

void ProcedureManager::ReleaseWorker() {
  if (worker_) retired_.push_back(std::move(worker_));
  std::erase_if(retired_, [](const std::unique_ptr<Worker>& worker) {
    if (!worker->ended.load()) return false;
    worker->thread.join();
    return true;
  });
}

void ProcedureManager::StartWorker(ProcedureId id) {
  stopEvent_.Reset();
  ReleaseWorker();
  auto worker = std::make_unique<Worker>();
  worker->procedureId = id;
  ProcedureBase* procedure = FindProcedure(id);
  Worker* slot = worker.get();
  worker->thread = std::thread([this, procedure, slot] {
    RunWorker(*procedure, *slot);
    slot->ended.store(true);
  });
  worker_ = std::move(worker);
}

void ProcedureManager::RunWorker(ProcedureBase& procedure, Worker& worker) {
  const WorkerKind& kind = KindOf(worker.procedureId);
  SendMessageTo(mainWindow_, kind.startMessage);
  if (worker.procedureId == PROC_SELF_PATCH && IsSelfPatchSkipped()) {
    worker.procedureDone.store(true);
    SendMessageTo(mainWindow_, UM_SELFPATCH_NONEED);
    WriteLaunchLog("debug");
    return;
  }
  const MessageId* finalMessage = FinalMessage(kind, procedure.Run());
  worker.procedureDone.store(true);
  if (finalMessage != nullptr) SendMessageTo(mainWindow_, *finalMessage);
}
