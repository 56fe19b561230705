// The segmented engine's manager: one download of one URL into one local
// file, split into segments that requests download into files of their own.
// Here the table always holds one segment that covers the whole file, so a
// download is one request on the pool's worker, whose segment file
// ("temp_d/~Qo.temp.<name>.0", DownloadTemporaryPath + ".0") is copied over
// the local path when it is complete, and removed however the download ends.
//
// States (phase in brackets): 0 new, 1 prepared, 2 preparation failed (0);
// 3 started, 4 resolving the server name (1); 6 complete, the final file in
// place (2); 7 the final file cannot be put in place, 8 the download failed or
// was stopped (3).
//
// Reports go to the listener given to Init, outside the manager's lock:
//   kReportState       (phase, state) after every state change;
//   kReportRequest     (segment index, 0) when a segment's request is created;
//   kReportStatus      (segment index, request state) for status texts;
//   kReportSize        (total size, 0) when the response's length is known;
//   kReportProgress    (segment index, byte position in the file) per piece.
// Requests report on the pool's worker; Init and Start report on the caller.
//
// Threads: Init, Start and Wait on the thread that downloads; Stop and the
// accessors from any thread. A listener must not destroy the manager from
// inside a report.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/CDownAnt.h"
#include "transfer/CThreadPool.h"

namespace DOWNANT {

// The manager's states: a scoped enum with fixed numbers. kReportState
// carries a state as its number (static_cast).
enum class DownManagerState : int32_t {
  kManagerNew = 0,
  kManagerPrepared = 1,
  kManagerPrepareFailed = 2,
  kManagerStarted = 3,
  kManagerResolving = 4,
  kManagerDone = 6,
  kManagerPlaceFailed = 7,
  kManagerFailed = 8,
};

DownPhase PhaseOfManagerState(DownManagerState state);

// Name and number, e.g. "kManagerDone (6)" (test traces).
void PrintTo(DownManagerState state, std::ostream* out);

enum DownReportKind : int {
  kReportState = 0,
  kReportRequest = 1,
  kReportStatus = 2,
  kReportSize = 3,
  kReportProgress = 4,
};

// "非法的下载地址: %s" in code page 936 bytes: the URL cannot be parsed.
inline constexpr const char* kTextIllegalUrl = "\xb7\xc7\xb7\xa8\xb5\xc4\xcf\xc2\xd4\xd8\xb5\xd8\xd6\xb7: %s";

class CDownManager : public CDownAnt::Listener {
 public:
  class Listener {
   public:
    virtual void OnDownReport(DownReportKind kind, int64_t first, int64_t second) = 0;

   protected:
    ~Listener() = default;
  };

  // Blocks of a segment are this many bytes.
  static constexpr int64_t kBlockSize = 4096;

  CDownManager() = default;
  // Shutdown.
  virtual ~CDownManager();
  CDownManager(const CDownManager&) = delete;
  CDownManager& operator=(const CDownManager&) = delete;

  // Takes the URL and the local path and reports to `listener`. False in
  // state 2 (reported) when either is empty (text kTextUrlOrPathEmpty) or the
  // URL cannot be parsed (kTextIllegalUrl); the pool is then not started.
  // Otherwise state 1 (reported), the pool's worker runs; true. Refused
  // (false, nothing changed) while a download runs. A body that grows past
  // `maxBytes` stops the download, which fails.
  [[nodiscard]] bool Init(const std::string& url, const std::string& localPath, Listener* listener,
                          uint64_t maxBytes = CDownAnt::kNoSizeLimit);
  // Caps the receive rate of the requests started from now on, in bytes per
  // second; 0 means no limit.
  void SetReceiveSpeedLimit(uint64_t bytesPerSecond);
  // In state 1 only: state 3 (reported), then the whole-file segment's
  // request is queued. A request that cannot be made or queued ends the
  // download as failed.
  void Start();
  // Sets the stop flag of every segment's running request; the download then
  // ends in state 8.
  void Stop();
  // The done event, an auto-reset event signalled when a download ends.
  // block false: whether it was signalled (taking the signal). block true:
  // waits for the end of the started download while delivering the messages
  // sent to the calling thread's windows; true once it has ended, also when
  // its signal was taken before. False at once when no download was started.
  bool Wait(bool block);
  // Ends the manager's work: no report reaches the listener any more, a
  // running request is stopped and the pool shut down (CThreadPool::Shutdown).
  // The destructor does it too; owners whose listener is about to go call it
  // first.
  void Shutdown();

  // The request's report (CDownAnt::Listener), on the reporting thread.
  AntAnswer OnAntNotify(CDownAnt& request) override;

  DownManagerState State() const;
  DownPhase Phase() const { return PhaseOfManagerState(State()); }
  int64_t TotalSize() const;
  int64_t Downloaded() const;
  int32_t Speed() const;
  // The last preparation error text.
  std::string Text() const;

 private:
  struct Segment {
    CDownAnt* request = nullptr;  // while the request has not ended
    int64_t startBlock = 0;
    int64_t endBlock = 0;  // exclusive; 0 = open end
    int64_t currentBlock = 0;
    int64_t received = 0;
    std::string file;
  };

  // Sets the state and reports it.
  void ChangeState(DownManagerState state);
  void Report(DownReportKind kind, int64_t first, int64_t second);
  AntAnswer OnAntData(const CDownAnt& request);
  // A segment's request has ended; with the single segment the download ends.
  void OnAntWorkOver(uint8_t index);
  // The segment file stays with its record when `partial` describes it.
  void OnAntWorkFailed(uint8_t index, const std::optional<PartialDownload>& partial);
  void SignalDone();

  CThreadPool pool_;
  mutable std::mutex mutex_;
  // Guarded by mutex_:
  DownManagerState state_ = DownManagerState::kManagerNew;
  std::string url_;
  std::string localPath_;
  std::string temporaryBase_;
  uint64_t maxBytes_ = CDownAnt::kNoSizeLimit;
  uint64_t receiveSpeedLimit_ = 0;
  std::string text_;
  std::vector<Segment> segments_;
  int64_t totalSize_ = 0;
  int64_t downloaded_ = 0;
  uint32_t beginTick_ = 0;
  int32_t speed_ = 0;
  Listener* listener_ = nullptr;
  bool doneSignalled_ = false;  // the done event
  bool ended_ = false;          // the started download has ended
};

}  // namespace DOWNANT
