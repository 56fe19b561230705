// The libcurl downloader. A transfer is written to the temporary file
// (DownloadTemporaryPath) and moved to the local path only when the server
// answered 200 and the file's size equals the announced length.
//
// End states of Start: DL_DONE (file at the local path, temporary file gone);
// DL_FAILED (network or write failure, low-speed abort, Stop, a body larger
// than the prepared bound, or a status other than 200); DL_LENGTH_MISMATCH
// (no announced length, or a different one; logged); DL_MOVE_FAILED (logged).
// Only DL_DONE changes the local path, and no end state leaves the temporary
// file behind: a failed transfer's bytes would otherwise stay on the disk.
//
// Each downloader holds one libcurl process-wide initialisation for its whole
// life; owners never call curl_global_init or curl_global_cleanup for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "transfer/CAutoDownload.h"

class CAutoDownload_Curl : public CAutoDownload {
 public:
  static constexpr int kKind = 2;
  // libcurl aborts a transfer that stays below 1 byte per second this long.
  static constexpr std::chrono::seconds kLowSpeedTime{30};

  // Milliseconds for the speed meter; GetTickCount32 unless a test gives one.
  using TickSource = std::function<uint32_t()>;

  // Performs libcurl's process-wide initialisation (all features) and makes a
  // downloader in DL_IDLE with no notify window and cookie 0. Null when the
  // initialisation fails. The parameters exist so that tests can shorten the
  // low-speed abort and drive the speed meter's clock.
  static std::unique_ptr<CAutoDownload_Curl> Create(std::chrono::seconds lowSpeedTime = kLowSpeedTime,
                                                    TickSource ticks = {});
  ~CAutoDownload_Curl() override;

  int GetKind() const override { return kKind; }
  DownloadState GetState() const override { return JobState(); }
  bool GetProgress(int64_t* total, int64_t* received) const override;
  int32_t GetSpeed() const override;
  // False with DL_PREPARE_FAILED for an empty URL or path (notified to the
  // earlier window and cookie; the job record keeps its values), when no easy
  // handle can be made, when the temporary file cannot be created (the folder
  // "temp_d" must exist), or when libcurl refuses an option.
  bool Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow, int cookie,
               uint64_t maxBytes) override;
  using CAutoDownload::Prepare;
  // Stop, then releases and removes what a Prepare without Start left.
  void Reset() override;
  // Returns when the transfer has ended, in one of the end states above.
  void Start() override;
  // Sets DL_IDLE; a running Start notices it at its next progress report and
  // ends in DL_FAILED.
  void Stop() override;
  // True at once: Start has already returned.
  bool Wait(bool block) override;

 private:
  CAutoDownload_Curl(std::chrono::seconds lowSpeedTime, TickSource ticks);

  [[nodiscard]] bool SetOptions();
  // Closes the temporary file (false when buffered bytes could not be
  // written) and releases the easy handle.
  bool ReleaseTransfer();
  // Releases a transfer prepared and never started, and removes its file.
  void DiscardPrepared();
  // Releases the transfer, removes the temporary file and ends in `state`.
  void FailTransfer(DownloadState state);
  // libcurl's write callback: the bytes go to the temporary file unless they
  // would pass the bound; a short count makes libcurl abort the transfer.
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  // The one-second speed meter: the first report is stored; later ones
  // replace it, with a new speed, when more than 1000 ms have passed.
  void Sample(int64_t total, int64_t received);
  // Puts the finished temporary file at the local path.
  void PlaceFile(const std::string& temporaryPath, const std::string& localPath);

  static int OnProgress(void* self, int64_t total, int64_t received, int64_t, int64_t);

  const std::chrono::seconds lowSpeedTime_;
  const TickSource ticks_;
  void* curl_ = nullptr;  // CURL*, from a successful Prepare to the end of Start
  FILE* file_ = nullptr;  // the temporary file, same lifetime
  std::unique_ptr<char[]> fileBuffer_;
  std::string temporaryPath_;
  uint64_t maxBytes_ = kNoSizeLimit;  // of the current transfer
  uint64_t written_ = 0;              // body bytes of the current transfer
  bool tooLarge_ = false;             // the body passed maxBytes_

  // Progress sample: written by the downloading thread, read by any thread.
  struct ProgressSample {
    int64_t total = 0;
    int64_t received = 0;
    uint32_t tick = 0;
    bool taken = false;
    int32_t speed = 0;
  };
  mutable std::mutex sampleMutex_;
  ProgressSample sample_;  // guarded by sampleMutex_
};
