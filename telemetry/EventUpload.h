// One upload of an analytics record to the log service: an HTTP POST of
// "appkey=<key>&type=<type>&log=<record as UTF-8>" to
// "<base>/tova-bi-log-service/UploadHttpServlet" with the one added header
// "Content-Type: application/x-www-form-urlencoded". The body is sent exactly
// as formatted, without percent-encoding.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "BuildSettings.h"

struct EventUploadSettings {
  // Scheme and host of the log service, without a trailing "/".
  std::string baseUrl = LAUNCHER_ANALYTICS_URL;
  // Bounds of one attempt, so a log service that does not answer can hold up
  // its caller only for a short, known time. Bounds below 1 ms count as 1 ms.
  std::chrono::milliseconds connectTimeout{2000};
  std::chrono::milliseconds totalTimeout{3000};
};

// The settings later uploads use (the defaults above until changed). Any
// thread may call these; a change does not affect uploads already started.
void SetEventUploadSettings(const EventUploadSettings& settings);
EventUploadSettings GetEventUploadSettings();

// How one upload ended.
enum class UploadOutcome {
  kAccepted,  // the reply holds a "0"
  kRefused,   // no "0" in the reply, or the transfer failed at once
  kTimedOut,  // a time bound was reached: the service does not answer
};

// Writes the body to the launch log as one line, then performs one upload.
// Accepted as soon as the reply shows the character "0" (the rest of the
// reply is not read; the HTTP status is not looked at). Refused when libcurl
// cannot be set up, on a transfer error (refused connection, say) or for a
// reply without "0"; timed out when a time bound was reached first. Any
// thread may call it; each call uses its own handle.
UploadOutcome PostEventLogOutcome(std::string_view type, std::u16string_view log,
                                  const EventUploadSettings& settings = GetEventUploadSettings());

// True when PostEventLogOutcome accepted the upload.
bool PostEventLog(std::string_view type, std::u16string_view log,
                  const EventUploadSettings& settings = GetEventUploadSettings());
