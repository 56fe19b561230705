#include "tests/gui/XvfbServer.h"

#include <string>
#include <vector>

namespace guitest {

XvfbServer::XvfbServer() {
  // Xvfb writes the display number to the descriptor once it accepts connections.
  const ReadyChild child = StartReadyChild([](int fd) {
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    return std::vector<std::string>{"Xvfb",      "-displayfd", std::to_string(fd), "-screen", "0", screen,
                                    "-nolisten", "tcp",        "-noreset"};
  });
  pid_ = child.pid;
  if (child.line.empty()) return;  // the server ended without a display
  display_ = ":" + child.line;
  displayVariable_.emplace("DISPLAY", display_);
  waylandVariable_.emplace("WAYLAND_DISPLAY", std::nullopt);
}

XvfbServer::~XvfbServer() {
  StopChild(pid_);
  waylandVariable_.reset();
  displayVariable_.reset();
}

}  // namespace guitest
