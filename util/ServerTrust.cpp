#include "util/ServerTrust.h"

#include <curl/curl.h>
#include <unistd.h>

#include "BuildSettings.h"
#include "platform/AsciiText.h"

// Alone in its file: a test program may bring its own copy, compiled with
// another bundle path, in place of this one.
int SetServerTrust(void* curl, std::string_view url) {
  CURLcode code = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  if (code == CURLE_OK) code = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (code == CURLE_OK && EqualsIgnoreCase(url.substr(0, 6), "https:")) {
    code = curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  }
  // The bundle takes the place of libcurl's default bundle file; the system's
  // authorities stay reachable through the certificate folder. A bundle that
  // is missing is left out rather than failing every transfer.
  const char* bundle = LAUNCHER_CA_BUNDLE;
  if (code == CURLE_OK && *bundle != '\0' && ::access(bundle, R_OK) == 0) {
    code = curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
  }
  return static_cast<int>(code);
}
