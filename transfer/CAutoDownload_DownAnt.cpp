#include "transfer/CAutoDownload_DownAnt.h"

using DOWNANT::CDownManager;
using DOWNANT::DownManagerState;
using enum DownloadState;

namespace {

DownloadState MapManagerState(DownManagerState state) {
  switch (state) {
    case DownManagerState::kManagerNew: return DL_IDLE;
    case DownManagerState::kManagerPrepared: return DL_READY;
    case DownManagerState::kManagerPrepareFailed: return DL_PREPARE_FAILED;
    case DownManagerState::kManagerStarted:
    case DownManagerState::kManagerResolving: return DL_RUNNING;
    case DownManagerState::kManagerDone: return DL_DONE;
    case DownManagerState::kManagerPlaceFailed:
    case DownManagerState::kManagerFailed: return DL_MOVE_FAILED;
  }
  return DL_IDLE;
}

}  // namespace

CAutoDownload_DownAnt::CAutoDownload_DownAnt() : manager_(std::make_unique<CDownManager>()) {}

CAutoDownload_DownAnt::~CAutoDownload_DownAnt() {
  // While the manager still exists: a report in flight may query this object.
  manager_->Shutdown();
}

DownloadState CAutoDownload_DownAnt::GetState() const { return MapManagerState(manager_->State()); }

bool CAutoDownload_DownAnt::GetProgress(int64_t* total, int64_t* received) const {
  if (DownloadPhase(GetState()) == kPhaseIdle) return false;
  const int64_t totalSize = manager_->TotalSize();
  if (total != nullptr) *total = totalSize;
  if (received != nullptr) *received = manager_->Downloaded();
  return totalSize != 0;
}

int32_t CAutoDownload_DownAnt::GetSpeed() const { return manager_->Speed(); }

bool CAutoDownload_DownAnt::Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow,
                                    int cookie, uint64_t maxBytes) {
  if (DownloadPhase(GetState()) == kPhaseRunning) return false;
  SetJob(DownloadJob{notifyWindow, cookie, url, localPath, maxBytes});
  manager_->SetReceiveSpeedLimit(ReceiveSpeedLimit());
  // The manager reports its new state, through OnDownReport.
  return manager_->Init(url, localPath, this, maxBytes);
}

void CAutoDownload_DownAnt::Reset() {
  Stop();
  manager_->Shutdown();
  manager_ = std::make_unique<CDownManager>();
  SetState(GetState());
}

void CAutoDownload_DownAnt::Start() {
  if (GetState() != DL_READY) return;
  manager_->Start();  // reports DL_RUNNING before the worker can report on
}

void CAutoDownload_DownAnt::Stop() {
  if (DownloadPhase(GetState()) == kPhaseRunning) manager_->Stop();
  SetState(DL_IDLE);
}

bool CAutoDownload_DownAnt::Wait(bool block) { return manager_->Wait(block); }

void CAutoDownload_DownAnt::OnDownReport(DOWNANT::DownReportKind kind, int64_t, int64_t second) {
  if (kind == DOWNANT::kReportState) {
    SetState(MapManagerState(static_cast<DownManagerState>(second)));
  } else if (kind == DOWNANT::kReportProgress) {
    NotifyProgress();
  }
}
