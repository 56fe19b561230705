#include "telemetry/EventReport.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>

#include "telemetry/DeviceIdentity.h"
#include "util/Encoding.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

namespace {

constexpr std::string_view kEventType = "adevent";
constexpr char16_t kFieldSeparator = u'\x01';

std::u16string ReadMarker() {
  // A missing, unreadable or oversized marker reads as none.
  constexpr uint64_t kMarkerMaxBytes = 64 * 1024;
  std::string bytes;
  if (!ReadSmallFile(kMarkerFileName, kMarkerMaxBytes, bytes)) return {};
  return Utf8ToWide(bytes);
}

std::u16string LocalTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return Utf8ToWide(std::string_view(text, length));
}

// Set by the first upload of the process that timed out.
std::atomic<bool> serviceSilent = false;

// Threads started by ReportEventAsync that have not finished yet.
struct PendingReports {
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
};

PendingReports& Pending() {
  static PendingReports* pending = new PendingReports;  // never destroyed: threads may outlive main
  return *pending;
}

void FinishReport() {
  PendingReports& pending = Pending();
  std::lock_guard<std::mutex> lock(pending.mutex);
  if (--pending.running == 0) pending.finished.notify_all();
}

}  // namespace

std::u16string BuildEventRecord(std::u16string_view name, std::u16string_view text) {
  std::u16string marker = ReadMarker();
  std::u16string referral = GetGclidField();
  if (referral.empty()) referral = u"pc";
  std::u16string deviceId = GetDeviceId();

  const std::u16string fields[] = {
      LocalTimeText(),
      deviceId,
      u"1000000002",
      u"0",
      u"0",
      u"pc",
      referral,
      u"0x0",
      u"network",
      u"0",
      u"1000",
      u"v1.8",
      u"",
      u"",
      u"",
      marker,
      std::u16string(name),
      std::u16string(text),
  };
  std::u16string record;
  for (const std::u16string& field : fields) {
    if (&field != &fields[0]) record += kFieldSeparator;
    record += field;
  }
  return record;
}

bool UploadEvent(std::u16string_view name, std::u16string_view text, const EventUploadSettings& settings) {
  if (serviceSilent.load()) {
    WriteLaunchLog("event %s dropped: the log service does not answer", WideToUtf8(name).c_str());
    return false;
  }
  const std::u16string record = BuildEventRecord(name, text);
  for (int attempt = 0; attempt < kEventUploadAttempts; ++attempt) {
    switch (PostEventLogOutcome(kEventType, record, settings)) {
      case UploadOutcome::kAccepted: return true;
      case UploadOutcome::kRefused: break;
      case UploadOutcome::kTimedOut: serviceSilent.store(true); return false;
    }
  }
  return false;
}

void ResetEventServiceSilence() { serviceSilent.store(false); }

bool ReportEvent(std::u16string_view name, std::u16string_view text) { return UploadEvent(name, text); }

bool ReportEventAsync(std::u16string_view name, std::u16string_view text) {
  PendingReports& pending = Pending();
  {
    std::lock_guard<std::mutex> lock(pending.mutex);
    ++pending.running;
  }
  try {
    std::thread([name = std::u16string(name), text = std::u16string(text), settings = GetEventUploadSettings()] {
      UploadEvent(name, text, settings);
      FinishReport();
    }).detach();
  } catch (const std::system_error&) {
    FinishReport();
    return false;
  }
  return true;
}

bool WaitForPendingReports(std::chrono::milliseconds timeout) {
  PendingReports& pending = Pending();
  std::unique_lock<std::mutex> lock(pending.mutex);
  return pending.finished.wait_for(lock, timeout, [&] { return pending.running == 0; });
}
