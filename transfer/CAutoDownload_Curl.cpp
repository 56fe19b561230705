#include "transfer/CAutoDownload_Curl.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "platform/Clock.h"
#include "platform/SystemPath.h"
#include "transfer/RangeRequest.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"
#include "util/ServerTrust.h"

static_assert(std::is_same_v<curl_off_t, int64_t>, "progress callback uses int64_t counts");
static_assert(std::is_same_v<CURL, void>, "the easy handle is kept as void*");

using enum DownloadState;

namespace {

constexpr const char* kSourceName = "transfer\\CAutoDownload_Curl.cpp";
constexpr int kMoveErrorLine = 210;

// Bytes of the temporary file's write buffer: libcurl hands over 16 KiB at a
// time, the file gets them in large writes.
constexpr size_t kFileBufferSize = size_t{1} << 20;

}  // namespace

std::unique_ptr<CAutoDownload_Curl> CAutoDownload_Curl::Create(std::chrono::seconds lowSpeedTime, TickSource ticks) {
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return nullptr;
  if (!ticks) ticks = &GetTickCount32;
  return std::unique_ptr<CAutoDownload_Curl>(new CAutoDownload_Curl(lowSpeedTime, std::move(ticks)));
}

CAutoDownload_Curl::CAutoDownload_Curl(std::chrono::seconds lowSpeedTime, TickSource ticks)
    : lowSpeedTime_(lowSpeedTime), ticks_(std::move(ticks)) {}

CAutoDownload_Curl::~CAutoDownload_Curl() {
  DiscardPrepared();
  ReleaseTransfer();
  curl_global_cleanup();
}

bool CAutoDownload_Curl::GetProgress(int64_t* total, int64_t* received) const {
  if (DownloadPhase(GetState()) == kPhaseIdle) return false;
  std::lock_guard lock(sampleMutex_);
  if (total != nullptr) *total = sample_.total;
  if (received != nullptr) *received = sample_.received;
  return sample_.total != 0;
}

int32_t CAutoDownload_Curl::GetSpeed() const {
  std::lock_guard lock(sampleMutex_);
  return sample_.speed;
}

bool CAutoDownload_Curl::Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow,
                                 int cookie, uint64_t maxBytes) {
  if (DownloadPhase(GetState()) == kPhaseRunning) return false;
  DiscardPrepared();
  if (url.empty() || localPath.empty()) {
    SetState(DL_PREPARE_FAILED);
    return false;
  }
  curl_ = curl_easy_init();
  if (curl_ == nullptr) {
    SetState(DL_PREPARE_FAILED);
    return false;
  }
  SetJob(DownloadJob{notifyWindow, cookie, url, localPath, maxBytes});
  temporaryPath_ = DownloadTemporaryPath(localPath);
  maxBytes_ = maxBytes;
  written_ = 0;
  tooLarge_ = false;
  partial_ = TakePartialDownload(temporaryPath_, localPath, maxBytes);
  offset_ = 0;
  resuming_ = partial_.has_value();
  judged_ = false;
  accepted_ = false;
  rangeRefused_ = false;
  // Resumed bytes are appended to; a 200 later truncates the file to zero.
  file_ = std::fopen(ToSystemPath(temporaryPath_).c_str(), resuming_ ? "ab" : "wb");
  if (file_ == nullptr) {
    ReleaseTransfer();
    DiscardPartialDownload(temporaryPath_);
    SetState(DL_PREPARE_FAILED);
    return false;
  }
  if (!fileBuffer_) fileBuffer_ = std::make_unique<char[]>(kFileBufferSize);
  std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBufferSize);
  if (!SetOptions()) {
    FailTransfer(DL_PREPARE_FAILED);
    return false;
  }
  SetState(DL_READY);
  return true;
}

namespace {

constexpr long kReceiveBufferSize = 512 * 1024;
constexpr long kMinReceiveBufferSize = 1024;  // libcurl's smallest

// libcurl holds the rate between rounds of reads, and one round reads as
// long as the socket has data, up to 100 reads: with a limit, a buffer of
// 1/500 of a second's bytes keeps every round within a fifth of a second's
// worth, so that a fast server cannot pass the limit in bursts.
long ReceiveBufferSize(uint64_t bytesPerSecond) {
  if (bytesPerSecond == 0) return kReceiveBufferSize;
  return static_cast<long>(std::clamp<uint64_t>(bytesPerSecond / 500, kMinReceiveBufferSize, kReceiveBufferSize));
}

}  // namespace

bool CAutoDownload_Curl::SetOptions() {
  const std::string url = Job().url;
  // Redirects are followed without a limit; the low-speed abort is the only
  // time limit. The receive buffer is larger than libcurl's 16 KiB default:
  // every received chunk costs a synchronous progress message to the window
  // thread, and fewer, larger chunks keep a fast download cheap. An HTTPS
  // server must show a certificate the launcher trusts. A receive-speed
  // limit of 0 leaves the rate free.
  return SetServerTrust(curl_, url) == CURLE_OK && curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CAutoDownload_Curl::OnWrite) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CAutoDownload_Curl::OnProgress) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lowSpeedTime_.count())) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, ReceiveBufferSize(ReceiveSpeedLimit())) == CURLE_OK &&
         curl_easy_setopt(curl_, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(ReceiveSpeedLimit())) ==
             CURLE_OK &&
         SetRangeOptions();
}

bool CAutoDownload_Curl::SetRangeOptions() {
  // Before a transfer, partial_ holds a record exactly when it resumes.
  return SetRangeRequest(curl_, partial_, rangeHeaders_);
}

bool CAutoDownload_Curl::ReleaseTransfer() {
  bool written = true;
  if (file_ != nullptr) {
    written = std::fclose(file_) == 0;
    file_ = nullptr;
  }
  if (curl_ != nullptr) {
    curl_easy_cleanup(curl_);
    curl_ = nullptr;
  }
  FreeRangeHeaders(rangeHeaders_);
  return written;
}

void CAutoDownload_Curl::FailTransfer(DownloadState state) {
  ReleaseTransfer();
  SettleTemporaryFile();
  SetState(state);
}

void CAutoDownload_Curl::SettleTemporaryFile() {
  if (partial_) {
    KeepPartialDownload(temporaryPath_, *partial_);
  } else {
    DiscardPartialDownload(temporaryPath_);
  }
  partial_.reset();
}

void CAutoDownload_Curl::DiscardPrepared() {
  // Outside Start, an open file belongs to a transfer that never started.
  if (file_ == nullptr) return;
  ReleaseTransfer();
  SettleTemporaryFile();
}

bool CAutoDownload_Curl::AcceptBody() {
  judged_ = true;
  long status = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
  const DownloadJob job = Job();
  switch (JudgeRangeAnswer(curl_, status, partial_, job.url, job.localPath)) {
    case RangeAnswer::kWhole:
      if (resuming_ && !EmptyAppendedFile(file_)) {
        partial_.reset();  // the file holds bytes of another state of it
        return false;
      }
      resuming_ = false;
      offset_ = 0;
      accepted_ = true;
      break;
    case RangeAnswer::kRest:
      offset_ = partial_->held;
      accepted_ = true;
      break;
    case RangeAnswer::kRefused: rangeRefused_ = true; break;
    case RangeAnswer::kOther: break;
  }
  if (accepted_) NoteRunningDownload(temporaryPath_, *partial_);
  return accepted_;
}

bool CAutoDownload_Curl::RestartWhole() {
  partial_.reset();
  resuming_ = false;
  offset_ = 0;
  written_ = 0;
  judged_ = false;
  accepted_ = false;
  rangeRefused_ = false;
  return EmptyAppendedFile(file_) && SetRangeOptions();
}

void CAutoDownload_Curl::Reset() {
  Stop();
  DiscardPrepared();
  ReleaseTransfer();
}

void CAutoDownload_Curl::Stop() { SetState(DL_IDLE); }

bool CAutoDownload_Curl::Wait(bool) { return true; }

// One request; a response without a body is judged when it ends.
int CAutoDownload_Curl::Perform() {
  const CURLcode result = curl_easy_perform(curl_);
  if (result == CURLE_OK && !judged_) AcceptBody();
  return result;
}

void CAutoDownload_Curl::Start() {
  if (!ChangeState(DL_READY, DL_RUNNING)) return;
  int result = Perform();
  if (rangeRefused_) {
    if (!RestartWhole()) {
      FailTransfer(DL_FAILED);
      return;
    }
    result = Perform();
  }
  long status = 0;
  if (result != CURLE_OK) {
    // A body cut at its bound came with a complete status line: the status
    // is kept as if the body had arrived whole.
    if (tooLarge_ && curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
      SetResponseCode(static_cast<int32_t>(status));
    }
    if (tooLarge_) partial_.reset();
    FailTransfer(DL_FAILED);
    return;
  }
  curl_off_t announced = 0;
  if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK) announced = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
  SetResponseCode(static_cast<int32_t>(status));
  // Bytes still in the write buffer reach the file here, so a failed close is
  // a failed write.
  bool written = ReleaseTransfer();
  if (!written) partial_.reset();
  if (!accepted_ || !written) {
    FailTransfer(DL_FAILED);
    return;
  }

  struct stat info {};
  if (::stat(ToSystemPath(temporaryPath_).c_str(), &info) != 0) {
    FailTransfer(DL_FAILED);
    return;
  }
  const int64_t size = info.st_size;
  // A resumed file is announced as the rest after the bytes held.
  const int64_t expected = announced < 0 ? announced : announced + static_cast<int64_t>(offset_);
  if (expected != size) {
    WriteLaunchLog("file len not mate httpLen = %lld,downedlen = %lld", static_cast<long long>(expected),
                   static_cast<long long>(size));
    partial_.reset();
    FailTransfer(DL_LENGTH_MISMATCH);
    return;
  }
  partial_.reset();
  PlaceFile(temporaryPath_, Job().localPath);
  DiscardPartialDownload(temporaryPath_);  // the note of the running transfer
}

size_t CAutoDownload_Curl::OnWrite(char* data, size_t size, size_t count, void* self) {
  auto* downloader = static_cast<CAutoDownload_Curl*>(self);
  const size_t length = size * count;
  if (!downloader->judged_) {
    // The bodies of redirects that libcurl follows are not the file's.
    long status = 0;
    curl_easy_getinfo(downloader->curl_, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300 && status < 400) return length;
    downloader->AcceptBody();
  }
  if (downloader->rangeRefused_) return 0;  // Start asks for the whole file
  if (!downloader->accepted_) return length;
  if (length > downloader->maxBytes_ - downloader->offset_ - downloader->written_) {
    downloader->tooLarge_ = true;
    return 0;
  }
  downloader->written_ += length;
  return std::fwrite(data, 1, length, downloader->file_);
}

void CAutoDownload_Curl::PlaceFile(const std::string& temporaryPath, const std::string& localPath) {
  const std::string source = ToSystemPath(temporaryPath);
  const std::string target = ToSystemPath(localPath);
  // A rename gives the result of copying and deleting without moving the
  // bytes; across file systems the copy is made.
  if (std::rename(source.c_str(), target.c_str()) == 0) {
    SetState(DL_DONE);
    return;
  }
  int error = errno;
  bool placed = false;
  if (error == EXDEV) {
    placed = CopyFileOverwrite(temporaryPath, localPath);
    error = errno;
  }
  std::remove(source.c_str());
  if (!placed) {
    WriteSourceLineLogSpaced(kSourceName, kMoveErrorLine, "DownFile Error MoveFile Error ErrorCode =%d", error);
    SetState(DL_MOVE_FAILED);
    return;
  }
  SetState(DL_DONE);
}

int CAutoDownload_Curl::OnProgress(void* self, int64_t total, int64_t received, int64_t, int64_t) {
  auto* downloader = static_cast<CAutoDownload_Curl*>(self);
  if (DownloadPhase(downloader->GetState()) == kPhaseIdle) return 1;  // stopped: abort
  if (total == 0 || received == 0 || downloader->rangeRefused_) return 0;
  // A resumed transfer counts the bytes held, so the bar goes on from them.
  const auto held = static_cast<int64_t>(downloader->offset_);
  downloader->Sample(total + held, received + held);
  downloader->NotifyProgress();
  return 0;
}

void CAutoDownload_Curl::Sample(int64_t total, int64_t received) {
  const uint32_t now = ticks_();
  std::lock_guard lock(sampleMutex_);
  if (sample_.taken) {
    const uint32_t elapsed = now - sample_.tick;
    if (elapsed <= 1000) return;
    const double speed = static_cast<double>(received - sample_.received) / (elapsed / 1000.0);
    sample_.speed = speed > 0 ? static_cast<int32_t>(std::min(speed, 2147483647.0)) : 0;
  }
  sample_ = ProgressSample{total, received, now, true, sample_.speed};
}
