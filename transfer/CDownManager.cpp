#include "transfer/CDownManager.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <ostream>
#include <utility>

#include "platform/Clock.h"
#include "platform/MessageWindow.h"
#include "transfer/CAutoDownload.h"
#include "transfer/DownAntTrace.h"
#include "util/FileUtil.h"

namespace DOWNANT {

using enum DOWN_STATE;
using enum DownManagerState;

namespace {

// How often a blocking Wait looks at the done event while it delivers messages.
constexpr std::chrono::milliseconds kWaitPoll{5};

constexpr uint8_t kWholeFileSegment = 0;

int32_t BytesPerSecond(int64_t bytes, uint32_t elapsedMs) {
  if (elapsedMs == 0) return 0;
  const double speed = static_cast<double>(bytes) / (elapsedMs / 1000.0);
  return static_cast<int32_t>(std::clamp(speed, 0.0, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

const char* NameOf(DownManagerState state) {
  switch (state) {
    case kManagerNew: return "kManagerNew";
    case kManagerPrepared: return "kManagerPrepared";
    case kManagerPrepareFailed: return "kManagerPrepareFailed";
    case kManagerStarted: return "kManagerStarted";
    case kManagerResolving: return "kManagerResolving";
    case kManagerDone: return "kManagerDone";
    case kManagerPlaceFailed: return "kManagerPlaceFailed";
    case kManagerFailed: return "kManagerFailed";
  }
  return "DownManagerState";
}

}  // namespace

void PrintTo(DownManagerState state, std::ostream* out) {
  *out << NameOf(state) << " (" << static_cast<int32_t>(state) << ")";
}

DownPhase PhaseOfManagerState(DownManagerState state) {
  if (state <= kManagerPrepareFailed) return kDownNotStarted;
  if (state < kManagerDone) return kDownRunning;
  if (state == kManagerDone) return kDownDone;
  return kDownFailed;
}

CDownManager::~CDownManager() { Shutdown(); }

bool CDownManager::Init(const std::string& url, const std::string& localPath, Listener* listener, uint64_t maxBytes) {
  DownManagerState state = kManagerPrepared;
  {
    std::lock_guard lock(mutex_);
    if (PhaseOfManagerState(state_) == kDownRunning) return false;
    url_ = url;
    localPath_ = localPath;
    maxBytes_ = maxBytes;
    listener_ = listener;
    ended_ = false;
    DownAntUrl parts;
    if (url.empty() || localPath.empty()) {
      text_ = kTextUrlOrPathEmpty;
      state = kManagerPrepareFailed;
    } else if (!ParseDownAntUrl(url, parts)) {
      text_ = FormatDownAntText(std::string::npos, kTextIllegalUrl, url.c_str());
      state = kManagerPrepareFailed;
    } else {
      temporaryBase_ = DownloadTemporaryPath(localPath);
    }
  }
  ChangeState(state);
  if (state == kManagerPrepareFailed) return false;
  // WinInet's limit of two connections per server needs no counterpart: each
  // request opens one connection of its own.
  pool_.Start();
  return true;
}

void CDownManager::SetReceiveSpeedLimit(uint64_t bytesPerSecond) {
  std::lock_guard lock(mutex_);
  receiveSpeedLimit_ = bytesPerSecond;
}

void CDownManager::Start() {
  std::string url;
  std::string file;
  uint64_t maxBytes = 0;
  uint64_t speedLimit = 0;
  std::string localPath;
  {
    std::lock_guard lock(mutex_);
    if (state_ != kManagerPrepared) return;
    // The state is set before the request is queued, so that a quick request
    // cannot end before the download counts as started.
    state_ = kManagerStarted;
    ended_ = false;
    doneSignalled_ = false;
    totalSize_ = 0;
    downloaded_ = 0;
    speed_ = 0;
    url = url_;
    maxBytes = maxBytes_;
    speedLimit = receiveSpeedLimit_;
    localPath = localPath_;
    file = temporaryBase_ + ".0";
    segments_.assign(1, Segment{nullptr, 0, 0, 0, 0, file});
  }
  Report(kReportState, kDownRunning, static_cast<int32_t>(kManagerStarted));

  auto request = std::make_unique<CDownAnt>(kWholeFileSegment);
  request->SetReceiveSpeedLimit(speedLimit);
  // Bytes an earlier download of this file kept are resumed.
  std::optional<PartialDownload> partial = TakePartialDownload(file, localPath, maxBytes);
  request->SetResume(localPath, partial);
  if (!request->Init(url, file, this, maxBytes)) {
    OnAntWorkFailed(kWholeFileSegment, partial);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    segments_[kWholeFileSegment].request = request.get();
  }
  Report(kReportRequest, kWholeFileSegment, 0);
  std::unique_ptr<CThreadRequest> queued = std::move(request);
  if (!pool_.AddRequest(queued)) {
    {
      std::lock_guard lock(mutex_);
      segments_[kWholeFileSegment].request = nullptr;
    }
    OnAntWorkFailed(kWholeFileSegment, partial);
  }
}

void CDownManager::Stop() {
  std::lock_guard lock(mutex_);
  for (Segment& segment : segments_) {
    if (segment.request != nullptr) segment.request->Stop();
  }
}

bool CDownManager::Wait(bool block) {
  if (!block) {
    std::lock_guard lock(mutex_);
    return std::exchange(doneSignalled_, false);
  }
  bool ended = false;
  MessageLoop::RunUntil(
      [&] {
        std::lock_guard lock(mutex_);
        if (ended_) {
          doneSignalled_ = false;
          ended = true;
          return true;
        }
        return PhaseOfManagerState(state_) == kDownNotStarted;
      },
      kWaitPoll);
  return ended;
}

void CDownManager::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    listener_ = nullptr;
    for (Segment& segment : segments_) {
      if (segment.request != nullptr) segment.request->Stop();
    }
  }
  pool_.Shutdown();
  // Requests that the pool dropped without running are gone.
  std::lock_guard lock(mutex_);
  for (Segment& segment : segments_) segment.request = nullptr;
}

AntAnswer CDownManager::OnAntNotify(CDownAnt& request) {
  const uint8_t index = request.SegmentIndex();
  const DOWN_STATE state = request.State();
  switch (request.Phase()) {
    case kDownRunning:
      if (state == DS_RESOLVING) {
        ChangeState(kManagerResolving);
      } else if (state == DS_STATUS_OK) {
        const uint32_t now = GetTickCount32();
        int64_t total = 0;
        {
          std::lock_guard lock(mutex_);
          totalSize_ = total = request.FileSize();
          beginTick_ = now;
        }
        DownAntTrace(0, 0, "BeginTickCount: %d", static_cast<int>(now));
        Report(kReportSize, total, 0);
      } else if (state == DS_RECEIVING) {
        return OnAntData(request);
      } else {
        Report(kReportStatus, index, static_cast<int32_t>(state));
      }
      break;
    case kDownNotStarted: Report(kReportStatus, index, static_cast<int32_t>(state)); break;
    case kDownDone:
    case kDownFailed: {
      {
        std::lock_guard lock(mutex_);
        if (index < segments_.size()) segments_[index].request = nullptr;
      }
      if (request.Phase() == kDownDone) {
        DownAntTrace(0, 1, "Ant Over:%d", index);
        OnAntWorkOver(index);
      } else {
        OnAntWorkFailed(index, request.Partial());
      }
      break;
    }
  }
  return kAntContinue;
}

AntAnswer CDownManager::OnAntData(const CDownAnt& request) {
  const uint8_t index = request.SegmentIndex();
  const uint32_t now = GetTickCount32();
  int64_t position = 0;
  bool finished = false;
  {
    std::lock_guard lock(mutex_);
    if (index >= segments_.size()) return kAntStop;
    Segment& segment = segments_[index];
    segment.received = request.Received();
    segment.currentBlock = segment.startBlock + (segment.received + kBlockSize - 1) / kBlockSize;
    // The bytes that arrived, not whole blocks: a short piece must not make
    // the progress run ahead of the file.
    downloaded_ = 0;
    for (const Segment& each : segments_) downloaded_ += each.received;
    speed_ = BytesPerSecond(downloaded_, now - beginTick_);
    position = segment.startBlock * kBlockSize + segment.received;
    finished = segment.endBlock != 0 && segment.currentBlock >= segment.endBlock;
  }
  Report(kReportProgress, index, position);
  return finished ? kAntFinish : kAntContinue;
}

void CDownManager::OnAntWorkOver(uint8_t index) {
  std::string localPath;
  Segment segment;
  {
    std::lock_guard lock(mutex_);
    if (PhaseOfManagerState(state_) >= kDownDone || index >= segments_.size()) return;
    segment = segments_[index];
    localPath = localPath_;
  }
  DownAntTrace(0, 1, "OnAntWorkOver[%d] [%d,%d)", index, static_cast<int>(segment.startBlock),
               static_cast<int>(segment.endBlock));
  const bool placed = CopyFileOverwrite(segment.file, localPath);
  DiscardPartialDownload(segment.file);
  ChangeState(placed ? kManagerDone : kManagerPlaceFailed);
  SignalDone();
}

void CDownManager::OnAntWorkFailed(uint8_t index, const std::optional<PartialDownload>& partial) {
  Segment segment;
  std::string localPath;
  {
    std::lock_guard lock(mutex_);
    if (index < segments_.size()) segment = segments_[index];
    localPath = localPath_;
  }
  DownAntTrace(0, 1, "OnAntWorkFailed[%d] [%d,%d)", index, static_cast<int>(segment.startBlock),
               static_cast<int>(segment.endBlock));
  // A file from an earlier download at the local path goes; what the segment
  // received stays only when it can be resumed.
  DeleteFile(localPath, ReadOnlyFile::kDelete);
  if (partial && !segment.file.empty()) {
    KeepPartialDownload(segment.file, *partial);
  } else if (!segment.file.empty()) {
    DiscardPartialDownload(segment.file);
  }
  ChangeState(kManagerFailed);
  SignalDone();
}

void CDownManager::SignalDone() {
  std::lock_guard lock(mutex_);
  doneSignalled_ = true;
  ended_ = true;
}

void CDownManager::ChangeState(DownManagerState state) {
  {
    std::lock_guard lock(mutex_);
    state_ = state;
  }
  Report(kReportState, PhaseOfManagerState(state), static_cast<int32_t>(state));
}

void CDownManager::Report(DownReportKind kind, int64_t first, int64_t second) {
  Listener* listener = nullptr;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener != nullptr) listener->OnDownReport(kind, first, second);
}

DownManagerState CDownManager::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

int64_t CDownManager::TotalSize() const {
  std::lock_guard lock(mutex_);
  return totalSize_;
}

int64_t CDownManager::Downloaded() const {
  std::lock_guard lock(mutex_);
  return downloaded_;
}

int32_t CDownManager::Speed() const {
  std::lock_guard lock(mutex_);
  return speed_;
}

std::string CDownManager::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

}  // namespace DOWNANT
