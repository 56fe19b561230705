// The downloader interface: prepare one transfer of one URL into one local
// file, run it, and report its state and progress to a notify window.
//
// Messages, both sent synchronously to the notify window of the last
// successful Prepare (none before it), wParam = the job's cookie, lParam = the
// downloader (CAutoDownload*):
//   UM_DOWNLOAD_STATE    whenever the state changes to a different value;
//   UM_DOWNLOAD_PROGRESS from the transfer, when new progress was observed.
// Receivers query GetState, GetProgress and GetSpeed during the call.
//
// Threads: Prepare, Start, Wait and Reset run on the downloading thread;
// Stop, GetState, GetProgress, GetSpeed and GetResponseCode may be called from
// any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/MessageWindow.h"

// State codes. The upper 16 bits give the phase (DownloadPhase): 0 not
// running, 1 running, 2 succeeded, 3 failed. Callers test the phase. A scoped
// enum with fixed numbers; receivers of UM_DOWNLOAD_STATE ask GetState, so
// the state never travels in a message argument.
enum class DownloadState : uint32_t {
  DL_IDLE = 0x0,                 // nothing prepared, or stopped
  DL_READY = 0x1,                // prepared, not started
  DL_PREPARE_FAILED = 0x2,       // the last preparation failed
  DL_RUNNING = 0x10000,          // transfer under way
  DL_DONE = 0x20000,             // file complete at its final path
  DL_FAILED = 0x30000,           // transfer failed or was cancelled
  DL_MOVE_FAILED = 0x30003,      // cannot be placed at the final path
  DL_LENGTH_MISMATCH = 0x30004,  // size differs from the announced length
};

// Name and number, e.g. "DL_MOVE_FAILED (0x30003)" (test traces).
void PrintTo(DownloadState state, std::ostream* out);

inline constexpr uint32_t kPhaseIdle = 0;
inline constexpr uint32_t kPhaseRunning = 1;
inline constexpr uint32_t kPhaseDone = 2;
inline constexpr uint32_t kPhaseFailed = 3;

constexpr uint32_t DownloadPhase(DownloadState state) { return static_cast<uint32_t>(state) >> 16; }

// A transfer without a bound on its size.
inline constexpr uint64_t kNoSizeLimit = UINT64_MAX;

// Where a download for `localPath` is written until it is complete:
// "temp_d/~Qo.temp." followed by the local path's file name without its
// extension (the text after the last "\", "/" or drive colon, up to its last
// "."). Files with the same base name share one temporary path.
std::string DownloadTemporaryPath(std::string_view localPath);

// The downloader's job record: the current transfer as the caller prepared it.
struct DownloadJob {
  MessageWindow* notifyWindow = nullptr;
  int cookie = 0;
  std::string url;
  std::string localPath;
  // A body that grows past this many bytes aborts the transfer, which fails.
  uint64_t maxBytes = kNoSizeLimit;
};

class CAutoDownload {
 public:
  virtual ~CAutoDownload() = default;
  CAutoDownload(const CAutoDownload&) = delete;
  CAutoDownload& operator=(const CAutoDownload&) = delete;

  // A constant per implementation: 2 for the curl downloader.
  virtual int GetKind() const = 0;
  virtual DownloadState GetState() const = 0;
  // False, writing nothing, while the phase is 0; otherwise writes the last
  // sampled total and received byte counts and returns whether the total is
  // non-zero.
  virtual bool GetProgress(int64_t* total, int64_t* received) const = 0;
  // The last measured speed in bytes per second.
  virtual int32_t GetSpeed() const = 0;
  // Sets up one transfer and leaves the state DL_READY. False, changing
  // nothing, while a transfer runs (phase 1); false with DL_PREPARE_FAILED
  // when the transfer cannot be set up. A transfer whose body passes
  // `maxBytes` is aborted as soon as it does and fails, so that no server can
  // fill the disk; whatever it wrote is removed.
  [[nodiscard]] virtual bool Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow,
                                     int cookie, uint64_t maxBytes) = 0;
  // Prepare without a bound on the size.
  [[nodiscard]] bool Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow,
                             int cookie) {
    return Prepare(url, localPath, notifyWindow, cookie, kNoSizeLimit);
  }
  // Stops any transfer and returns to DL_IDLE.
  virtual void Reset() = 0;
  // Runs the prepared transfer; does nothing unless the state is DL_READY.
  virtual void Start() = 0;
  // Asks a running transfer to end and sets DL_IDLE. Any thread.
  virtual void Stop() = 0;
  // Waits for the transfer to end; true when it has ended.
  virtual bool Wait(bool block) = 0;

  // HTTP status of the last completed request; 0 until one completed.
  int32_t GetResponseCode() const { return responseCode_.load(); }

  // Caps the receive rate of the transfers prepared from now on, in bytes
  // per second; 0 means no limit (the default).
  void SetReceiveSpeedLimit(uint64_t bytesPerSecond) { receiveSpeedLimit_.store(bytesPerSecond); }

 protected:
  CAutoDownload() = default;

  DownloadState JobState() const { return state_.load(); }
  // Sets the state; sends UM_DOWNLOAD_STATE when it changed and a notify
  // window is set.
  void SetState(DownloadState state);
  // Moves from `expected` to `state` (notified) in one step; false, changing
  // nothing, when the state is another one (e.g. Stop came first).
  [[nodiscard]] bool ChangeState(DownloadState expected, DownloadState state);
  // Sends UM_DOWNLOAD_PROGRESS when a notify window is set.
  void NotifyProgress();
  void SetJob(DownloadJob job);
  DownloadJob Job() const;
  void SetResponseCode(int32_t code) { responseCode_.store(code); }
  uint64_t ReceiveSpeedLimit() const { return receiveSpeedLimit_.load(); }

 private:
  void Notify(MessageId id);

  std::atomic<DownloadState> state_ = DownloadState::DL_IDLE;
  std::atomic<int32_t> responseCode_ = 0;
  std::atomic<uint64_t> receiveSpeedLimit_ = 0;
  mutable std::mutex jobMutex_;
  DownloadJob job_;  // guarded by jobMutex_
};
