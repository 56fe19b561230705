// Every test process has a temporary folder of its own, but the analytics
// port is one for the machine: the lock that serialises the program tests
// (and the demo) must be the same file for all of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/app/ProgramHarness.h"
#include "tests/support/TempDir.h"

namespace {

TEST(ProgramTestsLockTest, AReceiverHoldsTheMachineWideLock) {
  e2e::AnalyticsReceiver receiver;
  ASSERT_EQ(receiver.problem(), "");
  // Another process, with another temporary folder, asks for the lock.
  testsupport::TempDir otherTemp;
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    setenv("TMPDIR", otherTemp.str().c_str(), 1);
    const int fd = open(e2e::kProgramTestsLock, O_RDWR | O_CLOEXEC);
    _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process got the lock";
}

}  // namespace
