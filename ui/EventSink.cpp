#include "ui/EventSink.h"

#include "telemetry/EventReport.h"
#include "util/Encoding.h"

namespace {

class TelemetrySink : public EventSink {
 public:
  void Report(std::string_view name, std::string_view text) override {
    ReportEvent(Utf8ToWide(name), Utf8ToWide(text));
  }
  void ReportAsync(std::string_view name, std::string_view text) override {
    ReportEventAsync(Utf8ToWide(name), Utf8ToWide(text));
  }
};

}  // namespace

EventSink& TelemetryEventSink() {
  static TelemetrySink sink;
  return sink;
}
