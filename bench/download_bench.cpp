// Downloads one URL with the curl downloader and prints the wall time.
//
//   download_bench URL LOCAL_PATH [--window] [--stop-at BYTES] [--max-kibps N]
//
// Runs in the current folder, which must hold "temp_d". With --window the
// download runs on a worker thread and reports to a window on the main
// thread, which answers each report as the download command window does
// (progress on every report, speed at most once a second); without it no
// window is given and nothing is reported. --stop-at (with --window) stops
// the transfer once its temporary file holds BYTES, as a player who
// closes the launcher would; --max-kibps caps the receive rate. Prints the
// seconds taken and exits 0 when the file arrived.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "transfer/CAutoDownload_Curl.h"
#include "transfer/DownloadMessages.h"

namespace {

// Returns the state the download ended in.
DownloadState Download(CAutoDownload& downloader, const char* url, const char* localPath, MessageWindow* window) {
  if (downloader.Prepare(url, localPath, window, 1)) {
    downloader.Start();
    downloader.Wait(true);
  }
  const DownloadState state = downloader.GetState();
  downloader.Reset();
  return state;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URL LOCAL_PATH [--window]\n", argv[0]);
    return 2;
  }
  bool withWindow = false;
  int64_t stopAt = -1;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window") == 0) withWindow = true;
    if (std::strcmp(argv[i], "--stop-at") == 0 && i + 1 < argc) stopAt = std::atoll(argv[++i]);
  }
  auto downloader = CAutoDownload_Curl::Create();
  if (!downloader) return 1;
  for (int i = 3; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--max-kibps") == 0) downloader->SetReceiveSpeedLimit(std::atoll(argv[i + 1]) * 1024);
  }

  DownloadState end = DownloadState::DL_IDLE;
  const auto start = std::chrono::steady_clock::now();
  if (withWindow) {
    uint32_t lastSpeedTick = 0;
    MessageWindow window([&](const Message& message) {
      if (message.id != UM_DOWNLOAD_PROGRESS) return;
      int64_t total = 0;
      int64_t received = 0;
      if (!downloader->GetProgress(&total, &received)) return;
      // The progress counts are sampled once a second; the file's size is
      // where the transfer stands now.
      std::error_code error;
      const auto held = std::filesystem::file_size(DownloadTemporaryPath(argv[2]), error);
      if (stopAt >= 0 && !error && static_cast<int64_t>(held) >= stopAt) downloader->Stop();
      const uint32_t now = GetTickCount32();
      if (now - lastSpeedTick > 1000) {
        downloader->GetSpeed();
        lastSpeedTick = now;
      }
    });
    std::atomic<bool> finished = false;
    std::thread worker([&] {
      end = Download(*downloader, argv[1], argv[2], &window);
      finished = true;
    });
    MessageLoop::RunUntil([&] { return finished.load(); }, std::chrono::milliseconds(1));
    worker.join();
  } else {
    end = Download(*downloader, argv[1], argv[2], nullptr);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", elapsed.count());
  return DownloadPhase(end) == kPhaseDone ? 0 : 1;
}
