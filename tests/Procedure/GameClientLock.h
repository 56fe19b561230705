// The game client check of the game patch and the game repair looks for any
// running "meadow_jp.exe" on the machine, and ctest runs test programs side
// by side. A test that starts a stand-in client holds this lock exclusively
// while the client runs; every test that runs a procedure with the client
// check holds it shared, so that it never sees another test's client.
//
// The lock is a flock(2) on one file of the build tree
// ($LAUNCHER_BINARY_DIR/game-client.lock, or below /tmp when that is not set),
// released when the object is destroyed.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testsupport {

class GameClientLock {
 public:
  // Waits for the lock in shared mode.
  GameClientLock() {
    const char* build = std::getenv("LAUNCHER_BINARY_DIR");
    const std::string path = std::string(build != nullptr ? build : "/tmp") + "/game-client.lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0) flock(fd_, LOCK_SH);
  }
  ~GameClientLock() {
    if (fd_ >= 0) close(fd_);
  }
  GameClientLock(const GameClientLock&) = delete;
  GameClientLock& operator=(const GameClientLock&) = delete;

  // Turns the lock into an exclusive one (waiting for the shared holders to
  // finish), for the time a stand-in client runs.
  void MakeExclusive() {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }

 private:
  int fd_ = -1;
};

}  // namespace testsupport
