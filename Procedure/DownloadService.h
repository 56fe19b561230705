// The download service of the procedure manager: DownloadFile, through which
// every procedure fetches every file, and the hidden command window that turns
// the downloader's reports into the main window's progress and speed messages.
//
// DownloadFile runs on procedure worker threads; the command window belongs
// to the thread that called Init (the UI thread), so its handler, and the
// UM_DOWNLOAD_BYTES / UM_DOWNLOAD_SPEED sends it makes, run there while the
// downloading worker waits in its synchronous report.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Procedure/TransferRate.h"
#include "platform/MessageWindow.h"

class CAutoDownload;

class DownloadService {
 public:
  // Millisecond tick source, cut to 32 bits (GetTickCount32 in the launcher).
  using Clock = std::function<uint32_t()>;

  // Downloads go through `transfer`, which the caller owns and keeps alive
  // longer than the service; null (no downloader could be made) makes every
  // download fail. `clock` gives the "?rand=" value and paces the speed
  // messages; it is called from the worker and the UI thread.
  explicit DownloadService(CAutoDownload* transfer, Clock clock);
  // Destroys the command window. No download may be running.
  ~DownloadService();
  DownloadService(const DownloadService&) = delete;
  DownloadService& operator=(const DownloadService&) = delete;

  // UI thread, once: remembers the main window (may be null) and creates the
  // command window on the calling thread.
  void Init(MessageWindow* mainWindow);

  // The receiver of the downloader's UM_DOWNLOAD_STATE and
  // UM_DOWNLOAD_PROGRESS; null before Init.
  MessageWindow* CommandWindow() const { return commandWindow_.get(); }

  // Fetches `url` (the launcher's "\" form is accepted) into `localPath`.
  // True when the file is complete at the local path. False, with nothing
  // logged and nothing created, for an empty URL; false after the
  // "所要ディスクスペース（容量）不足" message box when the file system of
  // the local path (or of its nearest existing folder) has less than 2 GiB
  // free; false after six failed attempts, logged. An attempt whose body
  // passes `maxBytes` is aborted and fails. A failed attempt leaves the local
  // path as the downloader left it. `cookie` is the caller's procedure id.
  // Before each attempt after the first, the main window receives
  // UM_DOWNLOAD_RETRY with the attempt's number.
  //
  // Before the free-space check, what earlier work left behind is no longer
  // in the way: the downloader's scratch folder "temp_d" is emptied at the
  // first download of the service (the launcher's run), except for partial
  // downloads whose records match them (the downloader resumes those), and the
  // files in the staging folders of the procedures and of the applier count
  // as free space (those folders are reused or emptied by their owners).
  //
  // Worker threads only; concurrent calls are served one after the other.
  [[nodiscard]] bool DownloadFile(const std::string& url, const std::string& localPath, int32_t cookie,
                                  uint64_t maxBytes);

  // Any thread: makes the running and every later DownloadFile end with false
  // as soon as possible (used when the manager is destroyed).
  void Abandon();

 private:
  void OnCommandMessage(const Message& message);
  // One transfer of the transmitted form; true when the file is complete.
  [[nodiscard]] bool Attempt(const std::string& transmitted, const std::string& localPath, int32_t cookie,
                             uint64_t maxBytes);

  CAutoDownload* const transfer_;
  const Clock clock_;
  MessageWindow* mainWindow_ = nullptr;
  std::unique_ptr<MessageWindow> commandWindow_;
  std::atomic<bool> abandoned_ = false;

  // One download at a time: the downloader serves one transfer.
  std::mutex downloadMutex_;
  // Word printed in the attempt lines: "Curl" while true, "Ant" while false.
  // Flipped after every third failed attempt. Guarded by downloadMutex_.
  bool curlLabel_ = true;
  // "temp_d" was emptied of what an earlier run left. Guarded by
  // downloadMutex_.
  bool scratchCleaned_ = false;

  // Tick of the last UM_DOWNLOAD_SPEED; UI thread only.
  uint32_t lastSpeedReport_ = 0;
  // The speed reported, measured from the progress reports; UI thread only.
  TransferRate rate_;
};
