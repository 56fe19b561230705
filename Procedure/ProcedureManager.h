// The procedure manager: one object per process that owns the procedures and
// the downloaders, runs each started procedure on a worker thread, turns the
// procedure's result into the main window's final message, and offers the
// download service to the procedures.
//
// Threads: construction, Init, the Start operations and destruction run on the
// UI thread (the thread that runs the message loop of the main window and of
// the command window); DownloadFile runs on worker threads. Every message to
// the main window is a synchronous send, so a worker waits while the UI thread
// handles it, and a handler may start the next procedure.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Procedure/ProcedureBase.h"
#include "Procedure/StopEvent.h"
#include "platform/MessageWindow.h"

class CAutoDownload;
class DownloadService;

class ProcedureManager {
 public:
  // Makes the procedure registered under `id` (PROC_SELF_PATCH to
  // PROC_GAME_INSTALL, asked in that order), or null to leave the id empty.
  // Procedures download through `manager.DownloadFile`.
  using ProcedureFactory = std::function<std::unique_ptr<ProcedureBase>(ProcedureId id, ProcedureManager& manager)>;

  // Builds the procedure table from `factory`, then the downloaders. A curl
  // downloader whose libcurl initialisation is refused is left out; without
  // the first one every download fails.
  explicit ProcedureManager(const ProcedureFactory& factory);

  // Stop, then waits for every worker that is still running (delivering the messages they send to this
  // thread meanwhile; Start operations called from those handlers return
  // false). Then destroys the command window, the procedures and the
  // downloaders. Call it on the UI thread.
  ~ProcedureManager();
  ProcedureManager(const ProcedureManager&) = delete;
  ProcedureManager& operator=(const ProcedureManager&) = delete;

  // Once: stores the main window (may be null), initialises every procedure
  // in ascending id order with ".\launcher.ini" and the stop event, and
  // creates the command window on the calling thread.
  void Init(MessageWindow* mainWindow);

  // Starts the self-update worker. False, changing nothing, while the most
  // recently started worker has not ended.
  [[nodiscard]] bool StartSelfPatch();
  // Replace base 1 of the game patch / game install with `baseUrl` and start
  // its worker without waiting for an earlier one (which may still be
  // returning from its final message). True.
  [[nodiscard]] bool StartGamePatch(std::string baseUrl);
  [[nodiscard]] bool StartGameInstall(std::string baseUrl);
  // When the game client "meadow_jp.exe" runs, asks whether to end it: false,
  // starting nothing, when the answer is not yes or the client cannot be
  // ended (logged). Otherwise as StartGamePatch for the game repair, and then
  // sends UM_REPAIR_LAUNCHED to the main window; true.
  [[nodiscard]] bool StartGameRepair(std::string baseUrl);

  // Every Start operation also returns false, starting nothing, when its
  // procedure is not registered, while an earlier run of the same procedure
  // has not returned, or after Stop.

  // Ends the chain: signals the stop event, so that the running procedure
  // ends with its "cancelled" result at its next checkpoint, and abandons the
  // running download, which keeps its bytes for the next run. No procedure
  // starts afterwards. UI thread.
  void Stop();

  // The download service (Procedure/DownloadService.h): true when the file is
  // complete at `localPath`; a body larger than `maxBytes` fails the
  // attempt. Worker threads only.
  [[nodiscard]] bool DownloadFile(const std::string& url, const std::string& localPath, int32_t cookie,
                                  uint64_t maxBytes);

 private:
  // A started worker thread. `procedureDone` is set once the procedure's
  // run is over (before the final message), `ended` as the thread's last step.
  struct Worker {
    ProcedureId procedureId = ProcedureId::PROC_SELF_PATCH;
    std::thread thread;
    std::atomic<bool> procedureDone = false;
    std::atomic<bool> ended = false;
  };

  ProcedureBase* FindProcedure(ProcedureId id) const;
  // False after Stop, for an empty id, and while a worker is still
  // inside the procedure's run: two runs of one procedure would share its
  // fields, and SetServerUrl1 would change them under the running one.
  bool CanStart(ProcedureId id) const;
  // Moves the held worker to the retired ones and joins those that ended.
  void ReleaseWorker();
  // Starts the worker of the procedure `id` in the held slot.
  void StartWorker(ProcedureId id);
  // The worker thread's steps: start message, run, final message.
  void RunWorker(ProcedureBase& procedure, Worker& worker);

  std::map<ProcedureId, std::unique_ptr<ProcedureBase>> procedures_;
  // Curl downloader 1, segmented downloader 1, curl downloader 2, segmented
  // downloader 2, in creation order (a refused curl downloader is null);
  // destroyed in this order. Only the first one transfers files.
  std::vector<std::unique_ptr<CAutoDownload>> downloaders_;
  std::unique_ptr<DownloadService> downloads_;
  MessageWindow* mainWindow_ = nullptr;
  StopEvent stopEvent_;
  // The most recently started worker, and earlier ones not yet joined. UI
  // thread only.
  std::unique_ptr<Worker> worker_;
  std::vector<std::unique_ptr<Worker>> retired_;
  bool stopped_ = false;  // UI thread only
};
