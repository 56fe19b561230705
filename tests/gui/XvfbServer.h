// A private X server for window tests: Xvfb on a free display number (it
// picks the number itself), 1280 x 1024 at 24 bits, no window manager.
// DISPLAY names it for the life of the object (WAYLAND_DISPLAY is unset), so
// SDL, Xlib and xdotool in this process and its children use it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tests/gui/ChildServer.h"

namespace guitest {

class XvfbServer {
 public:
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 1024;

  // Starts the server and waits until it accepts connections.
  XvfbServer();
  // Stops the server and restores DISPLAY and WAYLAND_DISPLAY.
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool running() const { return !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;  // ":N"; empty when the server did not start
  std::optional<EnvironmentOverride> displayVariable_;
  std::optional<EnvironmentOverride> waylandVariable_;
};

}  // namespace guitest
