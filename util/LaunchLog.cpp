#include "util/LaunchLog.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

namespace {
constexpr size_t kMessageCapacity = 1024;  // 1023 bytes of text and the terminator
}

int WriteLaunchLog(const char* format, ...) {
  char message[kMessageCapacity] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  std::printf("%s\n", message);
  std::fflush(stdout);

  FILE* file = std::fopen(kLaunchLogName, "a");
  if (file == nullptr) file = std::fopen(kLaunchLogName, "w");
  if (file == nullptr) return 0;

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // One formatted write per line, so concurrent appenders never interleave
  // inside a line.
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%02d_%02d:%02d:%02d]: ", local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec);
  std::string line = std::string(stamp) + message + "\n";
  setvbuf(file, nullptr, _IOFBF, line.size() + 1);
  std::fwrite(line.data(), 1, line.size(), file);
  return std::fclose(file);
}
