// The libcurl downloader. A transfer is written to the temporary file
// (DownloadTemporaryPath) and moved to the local path only when the server
// answered 200 and the file's size equals the announced length.
//
// End states of Start: DL_DONE (file at the local path, temporary file gone);
// DL_FAILED (network or write failure, low-speed abort, Stop, a body larger
// than the prepared bound, or a status other than 200); DL_LENGTH_MISMATCH
// (no announced length, or a different one; logged); DL_MOVE_FAILED (logged).
// Only DL_DONE changes the local path.
//
// Resuming (PartialDownload): a transfer that stops while receiving the file
// keeps the bytes it has in the temporary file, with their record, when the
// server gave the full length and a validator. The next Prepare for the same
// local file asks for the rest (Range, If-Range). A 206 whose Content-Range
// continues the bytes held and matches the full length is appended; a 200
// is taken whole from byte 0; a 416 or any other Content-Range drops the
// bytes and the same Start asks for the whole file. Progress counts the
// bytes held. Every other end leaves no temporary file behind: a length
// mismatch, a body past the bound, or a transfer without a record to keep.
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
#include <optional>
#include <string>

#include "transfer/CAutoDownload.h"
#include "transfer/PartialDownload.h"

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
  // Range and If-Range for the bytes held, or none when nothing is resumed.
  [[nodiscard]] bool SetRangeOptions();
  // Closes the temporary file (false when buffered bytes could not be
  // written) and releases the easy handle.
  bool ReleaseTransfer();
  // Releases a transfer prepared and never started; its bytes stay when they
  // can be resumed, otherwise its file goes.
  void DiscardPrepared();
  // Keeps the temporary file's bytes with their record when partial_ holds
  // one, otherwise removes them.
  void SettleTemporaryFile();
  // curl_easy_perform, then the judgement of a response without a body.
  int Perform();
  // Releases the transfer and ends in `state`. The temporary file's bytes
  // stay with their record when a record can be kept; otherwise they go.
  void FailTransfer(DownloadState state);
  // The transfer after a refused range: the bytes held are dropped and the
  // whole file is asked for. False when that cannot be set up.
  [[nodiscard]] bool RestartWhole();
  // Judges the response whose body begins: true when its bytes belong in the
  // temporary file (a 200, or a 206 that continues the bytes held).
  bool AcceptBody();
  // libcurl's write callback: the bytes of an accepted body go to the
  // temporary file unless they would pass the bound; a short count makes
  // libcurl abort the transfer. Bodies of other statuses are dropped.
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
  uint64_t written_ = 0;              // body bytes of the current response
  bool tooLarge_ = false;             // the body passed maxBytes_
  void* rangeHeaders_ = nullptr;      // curl_slist* with If-Range, while set
  // What the temporary file's bytes are; empty while nothing could be kept.
  std::optional<PartialDownload> partial_;
  uint64_t offset_ = 0;        // bytes held before the current response's body
  bool resuming_ = false;      // the current request asks for the rest
  bool judged_ = false;        // the current response's body was judged
  bool accepted_ = false;      // ... and goes to the temporary file
  bool rangeRefused_ = false;  // a 206 that does not continue the bytes held

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
