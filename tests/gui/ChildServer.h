// Helpers of the test servers (Xvfb, dbus-daemon): a server program started
// as a child that writes one line to a descriptor it is given once it is
// ready, and an environment variable overridden for a scope.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace guitest {

struct ReadyChild {
  pid_t pid = -1;
  std::string line;  // the ready line without its newline; empty when the child ended first
};

// Runs the program of `arguments(fd)` (argument 0 is looked up on PATH) with
// its output thrown away, and waits for the line it writes to `fd`.
ReadyChild StartReadyChild(const std::function<std::vector<std::string>(int fd)>& arguments);

// Ends a child of StartReadyChild and waits for it.
void StopChild(pid_t pid);

// Sets (or, with nothing, removes) an environment variable until the end of the scope.
class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, const std::optional<std::string>& value);
  ~EnvironmentOverride();
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  static void Set(const char* name, const std::optional<std::string>& value);
  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace guitest
