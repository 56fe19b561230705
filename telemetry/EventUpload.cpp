#include "telemetry/EventUpload.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <mutex>

#include "util/Encoding.h"
#include "util/LaunchLog.h"
#include "util/ServerTrust.h"

namespace {

constexpr const char* kUploadPath = "/tova-bi-log-service/UploadHttpServlet";
constexpr const char* kAppKey = "4729163058214";

struct SettingsHolder {
  std::mutex mutex;
  EventUploadSettings settings;
};

SettingsHolder& Settings() {
  static SettingsHolder* holder = new SettingsHolder;  // never destroyed: reports may outlive main
  return *holder;
}

// Report threads may still be uploading when the process ends (it waits for
// them only so long). OpenSSL, which libcurl brings up, would free its global
// state in an exit handler under such a thread; it is told not to, before
// anything can bring it up. The process's memory goes at its end anyway.
[[maybe_unused]] const bool kOpenSslKeptAtExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

// libcurl's process-wide set-up, done once and kept for the life of the
// process: undoing it after each upload could tear it down under a transfer
// that another thread or module is running.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// libcurl reads 0 as "no bound"; the bounds here are always at least 1 ms.
long BoundMs(std::chrono::milliseconds bound) { return bound.count() > 0 ? static_cast<long>(bound.count()) : 1L; }

// Only whether a "0" arrived matters, so nothing of the reply is kept, and
// the transfer ends (a short count) at the first "0": a long or endless reply
// costs no more than its beginning.
size_t NoteReply(char* data, size_t size, size_t count, void* sawZero) {
  size_t length = size * count;
  if (std::string_view(data, length).find('0') == std::string_view::npos) return length;
  *static_cast<bool*>(sawZero) = true;
  return 0;
}

}  // namespace

void SetEventUploadSettings(const EventUploadSettings& settings) {
  SettingsHolder& holder = Settings();
  std::lock_guard<std::mutex> lock(holder.mutex);
  holder.settings = settings;
}

EventUploadSettings GetEventUploadSettings() {
  SettingsHolder& holder = Settings();
  std::lock_guard<std::mutex> lock(holder.mutex);
  return holder.settings;
}

bool PostEventLog(std::string_view type, std::u16string_view log, const EventUploadSettings& settings) {
  return PostEventLogOutcome(type, log, settings) == UploadOutcome::kAccepted;
}

UploadOutcome PostEventLogOutcome(std::string_view type, std::u16string_view log, const EventUploadSettings& settings) {
  if (!CurlReady()) return UploadOutcome::kRefused;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return UploadOutcome::kRefused;

  const std::string url = settings.baseUrl + kUploadPath;
  const std::string body = std::string("appkey=") + kAppKey + "&type=" + std::string(type) + "&log=" + WideToUtf8(log);
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
  // No "Expect: 100-continue" on larger bodies: the content type stays the
  // only header added to libcurl's own.
  if (curl_slist* more = headers ? curl_slist_append(headers, "Expect:") : nullptr) headers = more;
  bool sawZero = false;

  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "POST");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, NoteReply);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sawZero);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, BoundMs(settings.connectTimeout));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, BoundMs(settings.totalTimeout));

  // An HTTPS service must show a certificate the launcher trusts.
  const bool trustSet = SetServerTrust(curl, url) == CURLE_OK;

  WriteLaunchLog("%s", body.c_str());
  UploadOutcome outcome = UploadOutcome::kRefused;
  if (headers != nullptr && trustSet) {
    const CURLcode code = curl_easy_perform(curl);
    if (sawZero) {
      outcome = UploadOutcome::kAccepted;
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
      outcome = UploadOutcome::kTimedOut;
    }
  }

  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return outcome;
}
