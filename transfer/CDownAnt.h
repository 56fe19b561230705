// One request of the segmented engine: a single HTTP GET of one URL into one
// segment file, run on the pool's worker. The request walks through the
// states of DOWN_STATE and reports each one to its listener (the manager),
// whose answer tells it to go on, stop or finish.
//
// The transfer runs on libcurl, in the steps the engine's requests have always
// taken: open the session (After ::InternetOpen), install the status callback,
// connect (After ::InternetConnect), open the request (After
// ::HttpOpenRequest), send it, read the status (After
// ::HttpQueryInfo(HTTP_QUERY_STATUS_CODE)), then read the body in pieces of
// at most 4096 bytes. Name resolution, connection and redirects arrive as
// status notifications (OnInternetStatus). A failure's "Error:%d" is the
// libcurl result code; a scheme other than http fails at connecting (ftp and
// gopher: at opening the request) with CURLE_UNSUPPORTED_PROTOCOL.
//
// Threads: Init before the request is queued; Run on the worker; Stop and the
// accessors from any thread (Text only from the worker or after Run ended).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <optional>
#include <string>

#include "transfer/CThreadPool.h"
#include "transfer/DownAntUrl.h"
#include "transfer/PartialDownload.h"

namespace DOWNANT {

// The states of a request: a scoped enum with fixed numbers. The manager's
// reports carry a state as its number (static_cast).
enum class DOWN_STATE : int32_t {
  DS_NEW = 0,
  DS_URL_PARSED = 1,
  DS_URL_INVALID = 2,
  DS_REQUEST_OPENED = 3,
  DS_RESOLVING = 4,
  DS_RESOLVED = 5,
  DS_CONNECTING = 6,
  DS_CONNECTED = 7,
  DS_REDIRECTED = 8,
  DS_STATUS_OK = 9,
  DS_RECEIVING = 10,
  DS_ALL_RECEIVED = 11,
  DS_FINISHED = 12,
  DS_STOPPED = 13,
  DS_FILE_CREATE_FAILED = 15,
  DS_OPEN_FAILED = 16,
  DS_CALLBACK_FAILED = 17,
  DS_CONNECT_FAILED = 18,
  DS_OPEN_REQUEST_FAILED = 19,
  DS_SEND_FAILED = 20,
  DS_STATUS_UNREADABLE = 21,
  DS_PROXY_AUTH_FAILED = 22,
  DS_AUTH_FAILED = 23,
  DS_BAD_STATUS = 24,
  DS_READ_FAILED = 25,
  DS_WRITE_FAILED = 26,
};

// Phases of requests and of the manager.
enum DownPhase : int {
  kDownNotStarted = 0,
  kDownRunning = 1,
  kDownDone = 2,
  kDownFailed = 3,
};

// 0 to 2: not started; 3 to 10: running; 11 and 12: done; 13 and above: failed.
DownPhase PhaseOfState(DOWN_STATE state);

// Name and number, e.g. "DS_RECEIVING (10)" (test traces).
void PrintTo(DOWN_STATE state, std::ostream* out);

// The listener's answer to a report.
enum AntAnswer : int {
  kAntContinue = 0,
  kAntStop = 1,
  kAntFinish = 2,
};

// WinInet status numbers that OnInternetStatus turns into states.
inline constexpr int kStatusResolvingName = 10;
inline constexpr int kStatusNameResolved = 11;
inline constexpr int kStatusConnectingToServer = 20;
inline constexpr int kStatusConnectedToServer = 21;
inline constexpr int kStatusRedirect = 110;

// The engine's texts that hold Chinese words, in code page 936 bytes.
// "下载地址和本地文件地址不能为空": URL or path empty.
inline constexpr const char* kTextUrlOrPathEmpty =
    "\xcf\xc2\xd4\xd8\xb5\xd8\xd6\xb7\xba\xcd\xb1\xbe\xb5\xd8\xce\xc4\xbc\xfe\xb5\xd8\xd6\xb7\xb2\xbb\xc4\xdc\xce\xaa"
    "\xbf\xd5";
// "地址解析错误: %s": the URL cannot be parsed.
inline constexpr const char* kTextUrlUnparsable = "\xb5\xd8\xd6\xb7\xbd\xe2\xce\xf6\xb4\xed\xce\xf3: %s";
// "本地文件创建失败: %s, Error:%d": the segment file cannot be created.
inline constexpr const char* kTextFileCreateFailed =
    "\xb1\xbe\xb5\xd8\xce\xc4\xbc\xfe\xb4\xb4\xbd\xa8\xca\xa7\xb0\xdc: %s, Error:%d";
// "写本地文件是发生异常, Error:%d": writing the segment file failed.
inline constexpr const char* kTextWriteFailed =
    "\xd0\xb4\xb1\xbe\xb5\xd8\xce\xc4\xbc\xfe\xca\xc7\xb7\xa2\xc9\xfa\xd2\xec\xb3\xa3, Error:%d";

class CDownAnt : public CThreadRequest {
 public:
  // Receives every state the request reports, on the thread that reports it.
  class Listener {
   public:
    virtual AntAnswer OnAntNotify(CDownAnt& request) = 0;

   protected:
    ~Listener() = default;
  };

  // The stored text is cut to this many bytes.
  static constexpr size_t kMaxText = 259;
  // Bytes read per piece of the body.
  static constexpr size_t kReadSize = 4096;
  // A request without a bound on the size of its body.
  static constexpr uint64_t kNoSizeLimit = UINT64_MAX;

  explicit CDownAnt(uint8_t segmentIndex = 0);
  ~CDownAnt() override;
  CDownAnt(const CDownAnt&) = delete;
  CDownAnt& operator=(const CDownAnt&) = delete;

  // Takes the URL and the segment file path and reports to `listener`. An
  // empty URL or path gives DS_URL_INVALID with kTextUrlOrPathEmpty, a URL
  // that cannot be parsed DS_URL_INVALID with kTextUrlUnparsable; both are
  // reported and return false. Otherwise DS_URL_PARSED is reported; true.
  // A body that would pass `maxBytes` ends the request in DS_STOPPED before
  // the piece that passes it is written.
  [[nodiscard]] bool Init(const std::string& url, const std::string& segmentFile, Listener* listener,
                          uint64_t maxBytes = kNoSizeLimit);

  // Caps the receive rate of Run, in bytes per second; 0 means no limit.
  // Before the request is queued.
  void SetReceiveSpeedLimit(uint64_t bytesPerSecond) { receiveSpeedLimit_ = bytesPerSecond; }
  // The bytes are for `localPath`, and resumable ones are recorded for it.
  // Resumes the bytes that `partial` describes, which the segment file holds:
  // Run appends the rest when the server sends it (206) and takes the whole
  // file from byte 0 on a 200; a refused range (416, another Content-Range)
  // ends the request in DS_BAD_STATUS with the bytes dropped, so that the
  // next request begins from zero. Before the request is queued.
  void SetResume(std::string localPath, std::optional<PartialDownload> partial) {
    localPath_ = std::move(localPath);
    partial_ = std::move(partial);
  }
  // After Run: what the segment file's bytes are, when they can be resumed;
  // empty when they cannot (a body past the bound, no record to keep).
  const std::optional<PartialDownload>& Partial() const { return partial_; }
  // The transfer. Ends in DS_ALL_RECEIVED with the whole body in the segment
  // file, DS_STOPPED or DS_FINISHED when stopped or answered so, or one of the
  // failure states with its text. The segment file is created (truncated,
  // unless resumed) first and stays in place whatever the outcome.
  void Run(uint32_t threadId) override;
  // Sets the stop flag: the request ends in DS_STOPPED at its next check,
  // within about a second even while the server sends nothing.
  void Stop() override;

  uint8_t SegmentIndex() const { return segmentIndex_; }
  DOWN_STATE State() const { return state_.load(); }
  DownPhase Phase() const { return PhaseOfState(State()); }
  // The whole file's length: Content-Length of a 200, the bytes held and the
  // rest of a resumed one; 0 when the response had none.
  int64_t FileSize() const { return fileSize_.load(); }
  // Bytes in the segment file so far (a resumed one counts those it held).
  int64_t Received() const { return received_.load(); }
  const std::string& Text() const { return text_; }

 protected:
  // Turns a status notification into DS_RESOLVING to DS_REDIRECTED with the
  // information as the text, and reports it; other numbers are ignored.
  virtual void OnInternetStatus(int status, const std::string& information);
  // Reports the current state: a failed request traces its text, an ended one
  // closes its segment file; then the listener's answer is stored. (The
  // libcurl handle goes when Run returns: reports come from its callbacks.)
  virtual void ReportState();

 private:
  // What one Run keeps for libcurl's callbacks.
  struct Transfer;

  void SetState(DOWN_STATE state);
  void SetState(DOWN_STATE state, std::string text);
  // Sets a failure state with its formatted text and reports it.
  void Fail(DOWN_STATE state, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // The check between steps: true, after setting and reporting DS_STOPPED
  // (stop flag set, or the last answer was kAntStop) or DS_FINISHED (the last
  // answer was kAntFinish), when the request must end.
  bool Checked();
  // The session steps up to the opened request; false when one failed (its
  // state reported) or a check ended the request.
  bool OpenRequest(Transfer& transfer);
  // The final response's status line and headers have arrived; false ends
  // the transfer.
  bool OnResponse(Transfer& transfer, long status);
  // Body bytes; false ends the transfer.
  bool OnBody(const char* data, size_t size);
  // Closes the segment file; false when buffered bytes could not be written.
  bool CloseFile();

  const uint8_t segmentIndex_;
  std::atomic<DOWN_STATE> state_ = DOWN_STATE::DS_NEW;
  std::atomic<bool> stop_ = false;
  std::atomic<int64_t> fileSize_ = 0;
  std::atomic<int64_t> received_ = 0;
  AntAnswer answer_ = kAntContinue;  // worker only, after Init
  std::string url_;
  std::string segmentFile_;
  uint64_t maxBytes_ = kNoSizeLimit;
  uint64_t receiveSpeedLimit_ = 0;
  std::string localPath_;
  std::optional<PartialDownload> partial_;  // worker only, after queueing
  void* rangeHeaders_ = nullptr;            // curl_slist*, during Run
  DownAntUrl parts_;
  std::string text_;
  Listener* listener_ = nullptr;
  FILE* file_ = nullptr;  // during Run
};

}  // namespace DOWNANT
