#include "tests/gui/XvfbServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace guitest {

namespace {

std::optional<std::string> Saved(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void Restore(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

XvfbServer::XvfbServer() : savedDisplay_(Saved("DISPLAY")), savedWayland_(Saved("WAYLAND_DISPLAY")) {
  int ready[2];
  if (pipe(ready) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    // Xvfb writes the display number to `ready` once it accepts connections.
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    close(ready[0]);
    const std::string fd = std::to_string(ready[1]);
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  std::string number;
  char c = 0;
  while (pid_ > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  close(ready[0]);
  if (number.empty()) return;  // the server ended without a display
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Restore("DISPLAY", savedDisplay_);
  Restore("WAYLAND_DISPLAY", savedWayland_);
}

}  // namespace guitest
