// The launch log: one line per call appended to "Launch.log" in the current
// folder, "[DD_HH:MM:SS]: message". The file is opened and closed for every
// line and no state is kept, so any thread (and another process) may write.
#pragma once

// Formats the message printf-style (cut to its first 1023 bytes), echoes it to
// standard output and appends it as one line. Returns the result of closing
// the file (0 on success), or 0 when the file cannot be opened.
int WriteLaunchLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The name of the log file and of its one backup, relative to the current folder.
inline constexpr const char* kLaunchLogName = "Launch.log";
inline constexpr const char* kLaunchLogBackupName = "Launch.log.bak";
