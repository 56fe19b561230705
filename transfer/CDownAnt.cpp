#include "transfer/CDownAnt.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <memory>
#include <ostream>
#include <string_view>
#include <utility>

#include "platform/AsciiText.h"
#include "platform/SystemPath.h"
#include "transfer/DownAntTrace.h"
#include "transfer/RangeRequest.h"
#include "util/ServerTrust.h"

namespace DOWNANT {

using enum DOWN_STATE;

namespace {

constexpr const char* kAgent = "DOWN_ANT_BY_ORLO";
// The time limits a WinInet session has by default: a connection attempt
// gives up after a minute, a transfer that receives nothing for 30 seconds
// fails.
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kLowSpeedTimeSeconds = 30;

// Services a session can connect to, by scheme number; only HTTP and HTTPS
// sessions can open HTTP requests.
bool CanConnect(int scheme) { return scheme >= kSchemeFtp && scheme <= kSchemeHttps; }
bool CanRequest(int scheme) { return scheme == kSchemeHttp || scheme == kSchemeHttps; }

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// Blanks and the line end around a header line's text.
constexpr std::string_view kHeaderBlanks = " \r\n";
constexpr std::string_view kLocationField = "location:";  // letter case does not matter

std::string AddressText(const curl_sockaddr& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address.addr)->sin_addr, text, sizeof text);
  } else if (address.family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address.addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

const char* NameOf(DOWN_STATE state) {
  switch (state) {
    case DS_NEW: return "DS_NEW";
    case DS_URL_PARSED: return "DS_URL_PARSED";
    case DS_URL_INVALID: return "DS_URL_INVALID";
    case DS_REQUEST_OPENED: return "DS_REQUEST_OPENED";
    case DS_RESOLVING: return "DS_RESOLVING";
    case DS_RESOLVED: return "DS_RESOLVED";
    case DS_CONNECTING: return "DS_CONNECTING";
    case DS_CONNECTED: return "DS_CONNECTED";
    case DS_REDIRECTED: return "DS_REDIRECTED";
    case DS_STATUS_OK: return "DS_STATUS_OK";
    case DS_RECEIVING: return "DS_RECEIVING";
    case DS_ALL_RECEIVED: return "DS_ALL_RECEIVED";
    case DS_FINISHED: return "DS_FINISHED";
    case DS_STOPPED: return "DS_STOPPED";
    case DS_FILE_CREATE_FAILED: return "DS_FILE_CREATE_FAILED";
    case DS_OPEN_FAILED: return "DS_OPEN_FAILED";
    case DS_CALLBACK_FAILED: return "DS_CALLBACK_FAILED";
    case DS_CONNECT_FAILED: return "DS_CONNECT_FAILED";
    case DS_OPEN_REQUEST_FAILED: return "DS_OPEN_REQUEST_FAILED";
    case DS_SEND_FAILED: return "DS_SEND_FAILED";
    case DS_STATUS_UNREADABLE: return "DS_STATUS_UNREADABLE";
    case DS_PROXY_AUTH_FAILED: return "DS_PROXY_AUTH_FAILED";
    case DS_AUTH_FAILED: return "DS_AUTH_FAILED";
    case DS_BAD_STATUS: return "DS_BAD_STATUS";
    case DS_READ_FAILED: return "DS_READ_FAILED";
    case DS_WRITE_FAILED: return "DS_WRITE_FAILED";
  }
  return "DOWN_STATE";
}

}  // namespace

void PrintTo(DOWN_STATE state, std::ostream* out) {
  *out << NameOf(state) << " (" << static_cast<int32_t>(state) << ")";
}

DownPhase PhaseOfState(DOWN_STATE state) {
  if (state <= DS_URL_INVALID) return kDownNotStarted;
  if (state <= DS_RECEIVING) return kDownRunning;
  if (state <= DS_FINISHED) return kDownDone;
  return kDownFailed;
}

struct CDownAnt::Transfer {
  CDownAnt& ant;
  std::unique_ptr<CURL, CurlCleanup> curl;
  bool resolved = false;         // the current name resolution has been reported
  bool responseHandled = false;  // the final response's status has been read
  std::string location;          // Location header of the current response

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const size_t length = size * count;
    if (transfer.responseHandled) return length;  // trailers
    const std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
      transfer.location.clear();
    } else if (EqualsIgnoreCase(line.substr(0, kLocationField.size()), kLocationField)) {
      transfer.location = Trim(line.substr(kLocationField.size()), kHeaderBlanks);
    } else if (Trim(line, kHeaderBlanks).empty()) {
      return transfer.OnHeadersEnd() ? length : 0;
    }
    return length;
  }

  // The end of one response's headers: an interim or followed response is
  // passed over, the final one is judged.
  bool OnHeadersEnd() {
    long status = 0;
    const CURLcode code = curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
      ant.Fail(DS_STATUS_UNREADABLE, "Failed in call to HttpQueryInfo for HTTP query status code, Error:%d\n",
               static_cast<int>(code));
      return false;
    }
    if (status >= 100 && status < 200) return true;
    // libcurl follows every 3xx answer that names a new location.
    if (status >= 300 && status < 400 && !location.empty()) {
      ant.OnInternetStatus(kStatusRedirect, location);
      return true;
    }
    responseHandled = true;
    return ant.OnResponse(*this, status);
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const size_t length = size * count;
    if (!transfer.responseHandled) return length;  // body of a passed-over response
    return transfer.ant.OnBody(data, length) ? length : 0;
  }

  // Called by libcurl at least once a second, also while nothing arrives: the
  // place where a stop is noticed during a stalled transfer.
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    CDownAnt& ant = static_cast<Transfer*>(self)->ant;
    if (ant.Phase() >= kDownDone) return 1;
    return ant.Checked() ? 1 : 0;
  }

  static int OnResolverStart(void*, void*, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    transfer.resolved = false;
    transfer.ant.OnInternetStatus(kStatusResolvingName, transfer.ant.parts_.hostName);
    return 0;
  }

  static curl_socket_t OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::string text = AddressText(*address);
    if (!transfer.resolved) {
      transfer.resolved = true;
      transfer.ant.OnInternetStatus(kStatusNameResolved, text);
    }
    transfer.ant.OnInternetStatus(kStatusConnectingToServer, text);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  }

  static int OnConnected(void* self, char* primaryIp, char*, int, int) {
    static_cast<Transfer*>(self)->ant.OnInternetStatus(kStatusConnectedToServer, primaryIp);
    return CURL_PREREQFUNC_OK;
  }
};

CDownAnt::CDownAnt(uint8_t segmentIndex) : segmentIndex_(segmentIndex) {}

CDownAnt::~CDownAnt() {
  CloseFile();
  FreeRangeHeaders(rangeHeaders_);
}

bool CDownAnt::Init(const std::string& url, const std::string& segmentFile, Listener* listener, uint64_t maxBytes) {
  url_ = url;
  segmentFile_ = segmentFile;
  maxBytes_ = maxBytes;
  listener_ = listener;
  if (url.empty() || segmentFile.empty()) {
    SetState(DS_URL_INVALID, kTextUrlOrPathEmpty);
  } else if (!ParseDownAntUrl(url, parts_)) {
    SetState(DS_URL_INVALID, FormatDownAntText(kMaxText, kTextUrlUnparsable, url.c_str()));
  } else {
    SetState(DS_URL_PARSED);
  }
  ReportState();
  return State() == DS_URL_PARSED;
}

void CDownAnt::Stop() { stop_ = true; }

void CDownAnt::SetState(DOWN_STATE state) { state_ = state; }

void CDownAnt::SetState(DOWN_STATE state, std::string text) {
  if (text.size() > kMaxText) text.resize(kMaxText);
  text_ = std::move(text);
  state_ = state;
}

void CDownAnt::Fail(DOWN_STATE state, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatDownAntTextV(kMaxText, format, args);
  va_end(args);
  SetState(state, std::move(text));
  ReportState();
}

void CDownAnt::ReportState() {
  const DownPhase phase = Phase();
  if (phase == kDownFailed) DownAntTrace(segmentIndex_, 0, "%s", text_.c_str());
  if (phase >= kDownDone) CloseFile();
  if (listener_ != nullptr) answer_ = listener_->OnAntNotify(*this);
}

void CDownAnt::OnInternetStatus(int status, const std::string& information) {
  DOWN_STATE state = DS_NEW;
  switch (status) {
    case kStatusResolvingName: state = DS_RESOLVING; break;
    case kStatusNameResolved: state = DS_RESOLVED; break;
    case kStatusConnectingToServer: state = DS_CONNECTING; break;
    case kStatusConnectedToServer: state = DS_CONNECTED; break;
    case kStatusRedirect: state = DS_REDIRECTED; break;
    default: return;
  }
  SetState(state, information);
  ReportState();
}

bool CDownAnt::Checked() {
  if (stop_ || answer_ == kAntStop) {
    SetState(DS_STOPPED);
  } else if (answer_ == kAntFinish) {
    SetState(DS_FINISHED);
  } else {
    return false;
  }
  ReportState();
  return true;
}

bool CDownAnt::CloseFile() {
  if (file_ == nullptr) return true;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed;
}

bool CDownAnt::OpenRequest(Transfer& transfer) {
  // The session.
  transfer.curl.reset(curl_easy_init());
  CURL* curl = transfer.curl.get();
  if (curl == nullptr) {
    Fail(DS_OPEN_FAILED, "(::InternetOpen) Error:%d\n", static_cast<int>(CURLE_FAILED_INIT));
    return false;
  }
  // Proxies come from the environment, as libcurl does by default.
  CURLcode code = curl_easy_setopt(curl, CURLOPT_USERAGENT, kAgent);
  if (code != CURLE_OK) {
    Fail(DS_OPEN_FAILED, "(::InternetOpen) Error:%d\n", static_cast<int>(code));
    return false;
  }
  if (Checked()) return false;
  DownAntTrace(segmentIndex_, 0, "After ::InternetOpen");

  // The status callback: name resolution, connection, redirects.
  if ((code = curl_easy_setopt(curl, CURLOPT_RESOLVER_START_FUNCTION, &Transfer::OnResolverStart)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_RESOLVER_START_DATA, &transfer)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Transfer::OnOpenSocket)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &transfer)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_PREREQDATA, &transfer)) != CURLE_OK) {
    Fail(DS_CALLBACK_FAILED, "(::InternetSetStatusCallback), Error:%d\n", static_cast<int>(code));
    return false;
  }
  if (Checked()) return false;

  // The connection: the server of the URL, with the URL's scheme as service.
  code = CanConnect(parts_.scheme) ? curl_easy_setopt(curl, CURLOPT_URL, RequestUrl(parts_).c_str())
                                   : CURLE_UNSUPPORTED_PROTOCOL;
  if (code != CURLE_OK) {
    Fail(DS_CONNECT_FAILED, "(::InternetConnect), Error:%d\n", static_cast<int>(code));
    return false;
  }
  if (Checked()) return false;
  DownAntTrace(segmentIndex_, 0, "After ::InternetConnect");

  // The request: GET, accepting "*/*" (libcurl's default Accept header), from
  // the server rather than a cache (libcurl keeps none), redirects followed;
  // an HTTPS server must show a certificate the launcher trusts.
  code = CanRequest(parts_.scheme) ? static_cast<CURLcode>(SetServerTrust(curl, RequestUrl(parts_)))
                                   : CURLE_UNSUPPORTED_PROTOCOL;
  if (code != CURLE_OK || (code = curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kReadSize))) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeSeconds)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L)) != CURLE_OK ||
      (code = curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(receiveSpeedLimit_))) !=
          CURLE_OK) {
    Fail(DS_OPEN_REQUEST_FAILED, "(::HttpOpenRequest), Error:%d\n", static_cast<int>(code));
    return false;
  }
  // A resumed request asks for the rest of the file.
  if (!SetRangeRequest(curl, partial_, rangeHeaders_)) {
    Fail(DS_OPEN_REQUEST_FAILED, "(::HttpOpenRequest), Error:%d\n", static_cast<int>(CURLE_BAD_FUNCTION_ARGUMENT));
    return false;
  }
  if (Checked()) return false;
  DownAntTrace(segmentIndex_, 0, "After ::HttpOpenRequest");
  SetState(DS_REQUEST_OPENED);
  ReportState();
  return true;
}

void CDownAnt::Run(uint32_t) {
  file_ = std::fopen(ToSystemPath(segmentFile_).c_str(), partial_ ? "ab" : "wb");
  if (file_ == nullptr) {
    Fail(DS_FILE_CREATE_FAILED, kTextFileCreateFailed, segmentFile_.c_str(), errno);
    return;
  }
  Transfer transfer{*this, nullptr, false, false, {}};
  if (!OpenRequest(transfer)) return;

  // Sending the request, reading the status and the body all happen here;
  // the steps run from the callbacks.
  const CURLcode code = curl_easy_perform(transfer.curl.get());
  if (Phase() >= kDownDone) return;  // a step ended the request
  if (!transfer.responseHandled) {
    Fail(DS_SEND_FAILED, "(::HttpSendRequest), Error:%d\n", static_cast<int>(code));
    return;
  }
  if (code != CURLE_OK) {
    Fail(DS_READ_FAILED, "(::InternetReadFile), Error:%d\n", static_cast<int>(code));
    return;
  }
  // Bytes still buffered reach the file here, so a failed close is a failed write.
  if (!CloseFile()) {
    Fail(DS_WRITE_FAILED, kTextWriteFailed, errno);
    return;
  }
  SetState(DS_ALL_RECEIVED);
  ReportState();
}

bool CDownAnt::OnResponse(Transfer& transfer, long status) {
  const bool resuming = partial_.has_value();
  const RangeAnswer answer = JudgeRangeAnswer(transfer.curl.get(), status, partial_, url_, localPath_);
  if (answer == RangeAnswer::kRefused) {
    partial_.reset();  // the manager drops the bytes with it
    SetState(DS_BAD_STATUS);
    ReportState();
    return false;
  }
  if (answer == RangeAnswer::kWhole && resuming && !EmptyAppendedFile(file_)) {
    partial_.reset();
    Fail(DS_WRITE_FAILED, kTextWriteFailed, errno);
    return false;
  }
  if (status == 407) {
    Fail(DS_PROXY_AUTH_FAILED, "Authentication errors, Status Code:%d\n", static_cast<int>(status));
    return false;
  }
  if (status == 401) {
    Fail(DS_AUTH_FAILED, "Authentication errors, Status Code:%d\n", static_cast<int>(status));
    return false;
  }
  if (answer != RangeAnswer::kWhole && answer != RangeAnswer::kRest) {
    SetState(DS_BAD_STATUS);  // the text stays the last status text
    ReportState();
    return false;
  }
  if (Checked()) return false;
  DownAntTrace(segmentIndex_, 0, "After ::HttpQueryInfo(HTTP_QUERY_STATUS_CODE)");
  // A resumed file counts from the bytes held.
  const int64_t held = answer == RangeAnswer::kRest ? static_cast<int64_t>(partial_->held) : 0;
  curl_off_t length = -1;
  if (curl_easy_getinfo(transfer.curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0) {
    fileSize_ = held + length;
    length += held;
    SetState(DS_STATUS_OK, FormatDownAntText(kMaxText, "FileSize: %lld", static_cast<long long>(length)));
  } else {
    SetState(DS_STATUS_OK);
  }
  ReportState();
  if (Checked()) return false;
  received_ = held;
  NoteRunningDownload(segmentFile_, *partial_);
  SetState(DS_RECEIVING);
  ReportState();
  return true;
}

bool CDownAnt::OnBody(const char* data, size_t size) {
  while (size > 0) {
    const size_t piece = std::min(size, kReadSize);
    if (piece > maxBytes_ - static_cast<uint64_t>(received_.load())) {
      partial_.reset();
      SetState(DS_STOPPED,
               FormatDownAntText(kMaxText, "Body larger than %llu bytes", static_cast<unsigned long long>(maxBytes_)));
      ReportState();
      return false;
    }
    if (std::fwrite(data, 1, piece, file_) != piece) {
      Fail(DS_WRITE_FAILED, kTextWriteFailed, errno);
      return false;
    }
    received_ += static_cast<int64_t>(piece);
    SetState(DS_RECEIVING);
    ReportState();
    if (Checked()) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

}  // namespace DOWNANT
