#include "util/LaunchLog.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

constexpr size_t kMessageCapacity = 1024;  // 1023 bytes of text and the terminator

using MessageBuffer = char[kMessageCapacity];

std::atomic<bool> echoToStandardOutput = true;

// Formats after the first `used` bytes of `message` (the length snprintf
// reported for what is already there), so the text is cut where one format of
// the whole line would cut it.
__attribute__((format(printf, 3, 0))) void AppendFormatted(MessageBuffer& message, int used, const char* format,
                                                           va_list args) {
  const size_t start = std::min(static_cast<size_t>(std::max(used, 0)), kMessageCapacity - 1);
  std::vsnprintf(message + start, kMessageCapacity - start, format, args);
}

// Echoes `message` to standard output (unless turned off) and appends it as
// one stamped line.
int AppendLine(const char* message) {
  if (echoToStandardOutput.load()) {
    std::printf("%s\n", message);
    std::fflush(stdout);
  }

  FILE* file = std::fopen(kLaunchLogName, "a");
  if (file == nullptr) file = std::fopen(kLaunchLogName, "w");
  if (file == nullptr) return 0;

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // One formatted write per line, so concurrent appenders never interleave
  // inside a line.
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%02d_%02d:%02d:%02d]: ", local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec);
  std::string line = std::string(stamp) + message + "\n";
  setvbuf(file, nullptr, _IOFBF, line.size() + 1);
  std::fwrite(line.data(), 1, line.size(), file);
  return std::fclose(file);
}

// Writes the prefix (a format taking the source name and the line number),
// then the message after it, as one line.
__attribute__((format(printf, 4, 0))) int WritePrefixedLine(const char* prefix, const char* sourceName, int line,
                                                            const char* format, va_list args) {
  MessageBuffer message = {};
  const int used = std::snprintf(message, sizeof message, prefix, sourceName, line);
  AppendFormatted(message, used, format, args);
  return AppendLine(message);
}

}  // namespace

bool SetLaunchLogEcho(bool echo) { return echoToStandardOutput.exchange(echo); }

int WriteLaunchLog(const char* format, ...) {
  MessageBuffer message = {};
  va_list args;
  va_start(args, format);
  AppendFormatted(message, 0, format, args);
  va_end(args);
  return AppendLine(message);
}

int WriteSourceLineLog(const char* sourceName, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = WritePrefixedLine("FILE=%s,LINE=%d ,", sourceName, line, format, args);
  va_end(args);
  return result;
}

int WriteSourceLineLogSpaced(const char* sourceName, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = WritePrefixedLine("FILE =%s, Line =%d,", sourceName, line, format, args);
  va_end(args);
  return result;
}
