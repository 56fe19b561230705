// The exclusive lock one running launcher holds on a file of its folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/FileLock.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class FileLockTest : public ::testing::Test {
 protected:
  TempDir dir_;
  CurrentDirScope inDir_{dir_.path()};
};

TEST_F(FileLockTest, OneHolderAtATime) {
  auto first = std::make_unique<FileLock>();
  ASSERT_EQ(first->Lock("sub\\the.lock"), FileLock::Result::kFailed);  // no folder "sub"
  EXPECT_EQ(first->Lock("the.lock"), FileLock::Result::kLocked);
  EXPECT_TRUE(fs::is_regular_file("the.lock"));
  EXPECT_NE(fcntl(first->descriptor(), F_GETFD) & FD_CLOEXEC, 0);

  FileLock second;
  EXPECT_EQ(second.Lock("the.lock"), FileLock::Result::kHeld);
  EXPECT_EQ(second.descriptor(), -1);
  first.reset();
  EXPECT_EQ(second.Lock("the.lock"), FileLock::Result::kLocked);
}

TEST_F(FileLockTest, ALinkIsNotFollowed) {
  fs::create_symlink("elsewhere.lock", "the.lock");
  FileLock lock;
  int error = 0;
  EXPECT_EQ(lock.Lock("the.lock", &error), FileLock::Result::kFailed);
  EXPECT_EQ(error, ELOOP);
  EXPECT_FALSE(fs::exists("elsewhere.lock"));
}

// An inherited descriptor is taken over only when it is the named file and
// the lock can be held on it.
TEST_F(FileLockTest, AdoptTakesOverOnlyAnOpenOfTheNamedFile) {
  WriteFile("other.txt", "");
  const int other = open("other.txt", O_RDONLY | O_CLOEXEC);
  const int unheld = open("the.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  FileLock adopted;
  EXPECT_FALSE(adopted.Adopt(other, "the.lock"));
  EXPECT_FALSE(adopted.Adopt(-1, "the.lock"));
  EXPECT_FALSE(adopted.Adopt(unheld, "missing.lock"));
  {
    FileLock holder;
    ASSERT_EQ(holder.Lock("the.lock"), FileLock::Result::kLocked);
    EXPECT_FALSE(adopted.Adopt(unheld, "the.lock"));  // held through another open
  }
  ASSERT_TRUE(adopted.Adopt(unheld, "the.lock"));
  EXPECT_EQ(adopted.descriptor(), unheld);
  FileLock later;
  EXPECT_EQ(later.Lock("the.lock"), FileLock::Result::kHeld);
  EXPECT_NE(fcntl(other, F_GETFD), -1);  // left open
  close(other);
}

}  // namespace
