// Analytics events: a record of 18 fields joined by 0x01 (time, device id,
// constants, referral, the marker file's contents, the event's name and text)
// uploaded to the log service, on the caller's thread or on a thread of its
// own. A report's outcome is never shown or acted on; an event that is not
// accepted after five attempts is dropped.
//
// A log service that does not answer within the time bounds costs one
// time-out per run, not one per event (the window waits for most reports):
// after the first time-out, that event and every later one of the process
// are dropped with a log line instead of being sent.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "telemetry/EventUpload.h"

// The marker file read into every record, relative to the current folder.
inline constexpr const char* kMarkerFileName = "tovabiID";
// Attempts per event.
inline constexpr int kEventUploadAttempts = 5;

// The record: local time "%Y-%m-%d %H:%M:%S", GetDeviceId(), "1000000002",
// "0", "0", "pc", GetGclidField() (or "pc" when empty), "0x0", "network", "0",
// "1000", "v1.8", "", "", "", the whole contents of "tovabiID" as UTF-8 (empty
// when the file cannot be read), the name and the text. May create and store
// the device id.
std::u16string BuildEventRecord(std::u16string_view name, std::u16string_view text);

// Builds the record once, then posts it as type "adevent" until it is
// accepted, at most kEventUploadAttempts times one after the other; an
// attempt that times out ends the attempts. True when an attempt was
// accepted. Once an attempt of the process has timed out, no attempt is made
// and the event is dropped with the launch-log line "event %s dropped: the
// log service does not answer". With the default time bounds a silent or
// unreachable service holds up one caller of the process for about 3 seconds.
bool UploadEvent(std::u16string_view name, std::u16string_view text,
                 const EventUploadSettings& settings = GetEventUploadSettings());

// Forgets that the log service timed out, as if the process started anew
// (tests).
void ResetEventServiceSilence();

// UploadEvent on the calling thread.
bool ReportEvent(std::u16string_view name, std::u16string_view text);

// Copies the texts and the current upload settings and runs UploadEvent on a
// new thread; returns at once. False (and the event dropped) when no thread
// can be started. The thread is not joined; WaitForPendingReports waits for
// all of them.
bool ReportEventAsync(std::u16string_view name, std::u16string_view text);

// Waits until every thread started by ReportEventAsync has finished, or until
// `timeout` has passed. True when none is left running. Call it before the
// process ends so that late events still go out, and in tests.
bool WaitForPendingReports(std::chrono::milliseconds timeout);
