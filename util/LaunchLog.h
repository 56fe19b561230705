// The launch log: one line per call appended to "Launch.log" in the current
// folder, "[DD_HH:MM:SS]: message". The file is opened and closed for every
// line and no state is kept, so any thread (and another process) may write.
#pragma once

// Formats the message printf-style (cut to its first 1023 bytes), echoes it to
// standard output (see SetLaunchLogEcho) and appends it as one line. Returns the result of closing
// the file (0 on success), or 0 when the file cannot be opened.
int WriteLaunchLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Failure lines (and the patch applier's success lines) name the writing
// module's source and a fixed line number before the message. WriteSourceLineLog writes "FILE=<sourceName>,LINE=<line>
// ," and then the message; WriteSourceLineLogSpaced writes the downloader's and the delta patcher's form "FILE
// =<sourceName>, Line =<line>," and then the message. The whole line is cut to its first 1023 bytes and written like
// WriteLaunchLog's, with the same result.
int WriteSourceLineLog(const char* sourceName, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
int WriteSourceLineLogSpaced(const char* sourceName, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Whether every line is also echoed to standard output (on unless turned
// off). A tool whose standard output is a report of its own turns it off
// while it runs the launcher's code. Returns the earlier setting. Any thread.
bool SetLaunchLogEcho(bool echo);

// The name of the log file and of its one backup, relative to the current folder.
inline constexpr const char* kLaunchLogName = "Launch.log";
inline constexpr const char* kLaunchLogBackupName = "Launch.log.bak";
