#include "Procedure/DownloadService.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/RunningClient.h"
#include "patch/QoPatchUser.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBox.h"
#include "platform/SystemPath.h"
#include "transfer/CAutoDownload.h"
#include "transfer/DownloadMessages.h"
#include "transfer/PartialDownload.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

namespace {

// Below this much free space no download is started.
constexpr uint64_t kRequiredFreeBytes = 0x80000000ull;  // 2 GiB
constexpr const char* kDiskFullText = "所要ディスクスペース（容量）不足";

constexpr int kRounds = 2;
constexpr int kAttemptsPerRound = 3;
// Speed messages are spaced by more than this many milliseconds.
constexpr uint32_t kSpeedInterval = 1000;

// The first component of a relative path ("temp_launcher\launcher" gives
// "temp_launcher").
std::string_view TopFolder(std::string_view path) { return path.substr(0, path.find_first_of("\\/")); }

// The bytes of the regular files below the staging folders that lie on the
// file system of `asked` (links are not followed): space that failed or
// interrupted work holds, and that the folders' owners empty or reuse.
uint64_t StagingBytes(const std::string& asked) {
  namespace fs = std::filesystem;
  struct stat target {};
  if (::stat(ToSystemPath(asked).c_str(), &target) != 0) return 0;
  uint64_t bytes = 0;
  for (std::string_view folder :
       {TopFolder(kSelfPatchPaths.tempFolder), TopFolder(kGameRepairPaths.tempFolder),
        TopFolder(kGameInstallPaths.tempFolder), TopFolder(kGamePatchPaths.tempFolder), TopFolder(kStagingFolder)}) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(std::string(folder), error), end; !error && it != end;
         it.increment(error)) {
      struct stat file {};
      if (::lstat(it->path().c_str(), &file) == 0 && S_ISREG(file.st_mode) && file.st_dev == target.st_dev) {
        bytes += static_cast<uint64_t>(file.st_size);
      }
    }
  }
  return bytes;
}

}  // namespace

DownloadService::DownloadService(CAutoDownload* transfer, Clock clock)
    : transfer_(transfer), clock_(std::move(clock)) {}

DownloadService::~DownloadService() = default;

void DownloadService::Init(MessageWindow* mainWindow) {
  mainWindow_ = mainWindow;
  commandWindow_ = std::make_unique<MessageWindow>([this](const Message& message) { OnCommandMessage(message); });
}

bool DownloadService::DownloadFile(const std::string& url, const std::string& localPath, int32_t cookie,
                                   uint64_t maxBytes) {
  if (url.empty()) return false;
  std::lock_guard lock(downloadMutex_);

  // Only this service downloads, and a failed transfer keeps nothing but
  // bytes it can resume, with their record: anything else in the scratch
  // folder at the first download was left by a run that was cut short. What
  // cannot be removed fails the download at the downloader's temporary file.
  if (!scratchCleaned_) {
    CleanScratchFolder(kDownloadScratchFolder);
    scratchCleaned_ = true;
  }
  static_cast<void>(CreateDirectoryForPath(kDownloadScratchFolder, false));
  uint64_t freeBytes = 0;
  std::string asked;
  if (GetDiskFreeBytesFor(localPath, freeBytes, &asked) && freeBytes < kRequiredFreeBytes &&
      freeBytes + StagingBytes(asked) < kRequiredFreeBytes) {
    ShowMessageBox(kDiskFullText, kMessageCaption, mainWindow_);
    return false;
  }

  const std::string display = BackslashToSlash(url) + "?rand=" + std::to_string(clock_());
  const std::string transmitted = UrlEncode(display);
  if (transfer_ == nullptr) {
    WriteLaunchLog("start file download fail: %d %s <-- %s ResponseCode =%d, State = %d", cookie, localPath.c_str(),
                   transmitted.c_str(), 0, static_cast<int>(DownloadState::DL_IDLE));
    return false;
  }

  int attemptNumber = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (int attempt = 0; attempt < kAttemptsPerRound; ++attempt) {
      if (abandoned_.load()) return false;
      // A server that does not answer holds every attempt until the low-speed
      // abort: the window tells the player that the launcher waits and retries.
      if (++attemptNumber > 1)
        SendMessageTo(mainWindow_, UM_DOWNLOAD_RETRY, attemptNumber, kRounds * kAttemptsPerRound);
      WriteLaunchLog("start file download: %s %s <-- %s ", curlLabel_ ? "Curl" : "Ant", localPath.c_str(),
                     display.c_str());
      if (Attempt(transmitted, localPath, cookie, maxBytes)) {
        WriteLaunchLog("start file download success : %d %s <-- %s ", cookie, localPath.c_str(), display.c_str());
        return true;
      }
    }
    curlLabel_ = !curlLabel_;
  }
  WriteLaunchLog("start file download fail: %d %s <-- %s ResponseCode =%d, State = %d", cookie, localPath.c_str(),
                 transmitted.c_str(), transfer_->GetResponseCode(), static_cast<int>(transfer_->GetState()));
  return false;
}

bool DownloadService::Attempt(const std::string& transmitted, const std::string& localPath, int32_t cookie,
                              uint64_t maxBytes) {
  if (!transfer_->Prepare(transmitted, localPath, commandWindow_.get(), cookie, maxBytes)) return false;
  // An Abandon that came after the check in the loop: the prepared transfer
  // is dropped instead of started.
  if (!abandoned_.load()) {
    transfer_->Start();
    transfer_->Wait(true);
  }
  const bool complete = DownloadPhase(transfer_->GetState()) == kPhaseDone;
  transfer_->Reset();
  return complete;
}

void DownloadService::Abandon() {
  abandoned_.store(true);
  if (transfer_ != nullptr) transfer_->Stop();
}

void DownloadService::OnCommandMessage(const Message& message) {
  // UM_DOWNLOAD_STATE and anything else need no reaction.
  if (message.id != UM_DOWNLOAD_PROGRESS || transfer_ == nullptr) return;
  int64_t total = 0;
  int64_t received = 0;
  if (!transfer_->GetProgress(&total, &received)) return;
  SendMessageTo(mainWindow_, UM_DOWNLOAD_BYTES, static_cast<uint32_t>(received),
                static_cast<LParam>(static_cast<uint32_t>(total)));

  // The speed is averaged over a few seconds of these reports rather than
  // taken from the downloader's one-second meter, whose figure jumps with the
  // network's bursts and drops to 0 in a short gap.
  const uint32_t now = clock_();
  rate_.Add(now, total, received);
  const std::optional<int32_t> speed = rate_.Speed();
  if (speed && now - lastSpeedReport_ > kSpeedInterval) {
    const std::string text = FormatByteSize(*speed);  // lives until the send has returned
    SendMessageTo(mainWindow_, UM_DOWNLOAD_SPEED, static_cast<WParam>(static_cast<intptr_t>(*speed)),
                  reinterpret_cast<LParam>(text.c_str()));
    lastSpeedReport_ = now;
  }
}
