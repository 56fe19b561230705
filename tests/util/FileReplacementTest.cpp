// Files replaced only once complete: a writer killed half-way, or one that
// gives up, leaves the old bytes and no other file; the copies and package
// extraction that write into the game folder go through it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/TempDir.h"
#include "util/FileTransfer.h"
#include "util/FileUtil.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class FileReplacementTest : public ::testing::Test {
 protected:
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  CurrentDirScope inDir_{dir_.path()};
};

TEST_F(FileReplacementTest, AWriterKilledHalfWayLeavesTheOldBytesAndNothingElse) {
  WriteFile("GameInfo.ini", "the old list");
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    FileReplacement replacement("GameInfo.ini", 0644);
    const std::string part = "the first half of the new list";
    if (!replacement.valid() || !WriteFileBytes(replacement.fd(), part.data(), part.size())) _exit(1);
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer could not write";
  EXPECT_EQ(ReadFile("GameInfo.ini"), "the old list");
  EXPECT_EQ(Names(), std::set<std::string>{"GameInfo.ini"});
}

TEST_F(FileReplacementTest, CommitReplacesAbandonKeeps) {
  const struct {
    const char* what;
    bool leftover;  // a name an earlier commit, interrupted, left behind
    bool commit;
    const char* expected;
  } cases[] = {
      {"committed", false, true, "new"},
      {"committed over a leftover", true, true, "new"},
      {"abandoned", false, false, "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile("data.bin", "old");
    if (c.leftover) WriteFile("data.bin.tova-part", "left");
    {
      FileReplacement replacement("data.bin", 0644);
      ASSERT_TRUE(replacement.valid());
      ASSERT_TRUE(WriteFileBytes(replacement.fd(), "new", 3));
      if (c.commit) {
        EXPECT_TRUE(replacement.Commit());
      }
    }
    EXPECT_EQ(ReadFile("data.bin"), c.expected);
    EXPECT_EQ(Names(), std::set<std::string>{"data.bin"});
  }
}

// A copy that cannot be written whole (here a file-size limit stands for a
// full disk) fails and keeps the old target.
TEST_F(FileReplacementTest, ACopyCutShortKeepsTheOldTarget) {
  WriteFile("source", std::string(64 * 1024, 'n'));
  WriteFile("target", "old");
  const pid_t copier = fork();
  ASSERT_GE(copier, 0);
  if (copier == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16 * 1024, 16 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    _exit(CopyFileOverwrite("source", "target") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(copier, &status, 0), copier);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the copy did not fail";
  EXPECT_EQ(ReadFile("target"), "old");
  EXPECT_EQ(Names(), (std::set<std::string>{"source", "target"}));
}

// A copy onto a symbolic link changes the file it leads to, as writing
// through the link did.
TEST_F(FileReplacementTest, ACopyOntoALinkReplacesTheLinkedFile) {
  WriteFile("source", "new");
  WriteFile("linked", "old");
  fs::create_symlink("linked", "link");
  EXPECT_TRUE(CopyFileOverwrite("source", "link"));
  EXPECT_TRUE(fs::is_symlink("link"));
  EXPECT_EQ(ReadFile("linked"), "new");
}

}  // namespace
