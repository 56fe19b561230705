// The segmented downloader behind the downloader interface: each transfer is
// one download of the owned CDownManager (transfer/CDownManager.h), whose
// states the downloader reports as
//   0 new -> DL_IDLE, 1 prepared -> DL_READY, 2 -> DL_PREPARE_FAILED,
//   3 started and 4 resolving -> DL_RUNNING, 6 complete -> DL_DONE,
//   7 not placed and 8 failed or stopped -> DL_MOVE_FAILED.
// Start returns at once; the transfer runs on the manager's worker, which
// sends UM_DOWNLOAD_STATE and UM_DOWNLOAD_PROGRESS to the notify window.
// The response code stays 0.
//
// Threads: Prepare, Start, Wait, Reset and destruction on the thread that
// downloads, never from inside the notify window's handler of this
// downloader's messages (they wait for the worker); Stop and the queries from
// any thread.
#pragma once

#include <memory>

#include "transfer/CAutoDownload.h"
#include "transfer/CDownManager.h"

class CAutoDownload_DownAnt : public CAutoDownload, private DOWNANT::CDownManager::Listener {
 public:
  static constexpr int kKind = 0;

  // A downloader in DL_IDLE with no notify window and cookie 0.
  CAutoDownload_DownAnt();
  // Stops a running transfer and waits for the manager's worker to end.
  ~CAutoDownload_DownAnt() override;

  int GetKind() const override { return kKind; }
  DownloadState GetState() const override;
  // False while the state's phase is 0; otherwise the manager's total size
  // (0 while the server has not announced one) and downloaded bytes, and
  // whether the total is non-zero.
  bool GetProgress(int64_t* total, int64_t* received) const override;
  // The manager's average speed since the response arrived.
  int32_t GetSpeed() const override;
  // False, changing nothing, while running. Otherwise the job record takes
  // the four values (also when they are refused) and the manager prepares the
  // transfer: false with DL_PREPARE_FAILED for an empty URL or path or a URL
  // that cannot be parsed; then no worker is started.
  bool Prepare(const std::string& url, const std::string& localPath, MessageWindow* notifyWindow, int cookie,
               uint64_t maxBytes) override;
  using CAutoDownload::Prepare;
  // Stop, then a new manager: DL_IDLE. Waits for the old manager's worker.
  void Reset() override;
  // In DL_READY only: queues the transfer and returns; DL_RUNNING.
  void Start() override;
  // A running transfer ends at its next check, in DL_MOVE_FAILED, with the
  // file at the local path and the segment file removed. The job's state
  // becomes DL_IDLE (reported) at once.
  void Stop() override;
  // The manager's Wait: with `block`, delivers the calling thread's messages
  // until the started transfer has ended (true; false at once when none was
  // started); without, whether it ended since the last Wait (true once).
  bool Wait(bool block) override;

 private:
  void OnDownReport(DOWNANT::DownReportKind kind, int64_t first, int64_t second) override;

  std::unique_ptr<DOWNANT::CDownManager> manager_;
};
