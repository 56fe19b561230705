// Where the window logic sends its analytics events. The launcher uses the
// telemetry reports (telemetry/EventReport.h); tests put a recorder in its
// place. Names and texts are UTF-8.
#pragma once

#include <string_view>

class EventSink {
 public:
  virtual ~EventSink() = default;
  // ReportEvent: returns when the upload has finished (the caller waits).
  virtual void Report(std::string_view name, std::string_view text) = 0;
  // ReportEventAsync: the upload runs on a thread of its own; returns at once.
  virtual void ReportAsync(std::string_view name, std::string_view text) = 0;
};

// The sink that uploads through the telemetry reports. Any thread.
EventSink& TelemetryEventSink();
