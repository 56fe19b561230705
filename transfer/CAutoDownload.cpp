#include "transfer/CAutoDownload.h"

#include <ostream>
#include <utility>

#include "transfer/DownloadMessages.h"

using enum DownloadState;

namespace {

const char* NameOf(DownloadState state) {
  switch (state) {
    case DL_IDLE: return "DL_IDLE";
    case DL_READY: return "DL_READY";
    case DL_PREPARE_FAILED: return "DL_PREPARE_FAILED";
    case DL_RUNNING: return "DL_RUNNING";
    case DL_DONE: return "DL_DONE";
    case DL_FAILED: return "DL_FAILED";
    case DL_MOVE_FAILED: return "DL_MOVE_FAILED";
    case DL_LENGTH_MISMATCH: return "DL_LENGTH_MISMATCH";
  }
  return "DownloadState";
}

}  // namespace

void PrintTo(DownloadState state, std::ostream* out) {
  *out << NameOf(state) << " (0x" << std::hex << static_cast<uint32_t>(state) << std::dec << ")";
}

std::string DownloadTemporaryPath(std::string_view localPath) {
  size_t nameStart = localPath.find_last_of("\\/");
  nameStart = nameStart == std::string_view::npos ? 0 : nameStart + 1;
  if (nameStart == 0 && localPath.size() >= 2 && localPath[1] == ':') nameStart = 2;
  std::string_view name = localPath.substr(nameStart);
  size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return "temp_d/~Qo.temp." + std::string(name);
}

void CAutoDownload::SetState(DownloadState state) {
  if (state_.exchange(state) != state) Notify(UM_DOWNLOAD_STATE);
}

bool CAutoDownload::ChangeState(DownloadState expected, DownloadState state) {
  if (!state_.compare_exchange_strong(expected, state)) return false;
  if (expected != state) Notify(UM_DOWNLOAD_STATE);
  return true;
}

void CAutoDownload::NotifyProgress() { Notify(UM_DOWNLOAD_PROGRESS); }

void CAutoDownload::Notify(MessageId id) {
  MessageWindow* window = nullptr;
  int cookie = 0;
  {
    std::lock_guard lock(jobMutex_);
    window = job_.notifyWindow;
    cookie = job_.cookie;
  }
  SendMessageTo(window, id, static_cast<WParam>(static_cast<uint32_t>(cookie)), reinterpret_cast<LParam>(this));
}

void CAutoDownload::SetJob(DownloadJob job) {
  std::lock_guard lock(jobMutex_);
  job_ = std::move(job);
}

DownloadJob CAutoDownload::Job() const {
  std::lock_guard lock(jobMutex_);
  return job_;
}
