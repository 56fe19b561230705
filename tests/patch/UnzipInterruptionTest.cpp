// Package extraction that is cut short keeps the files it was replacing:
// an entry reaches its name only once it is complete.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "patch/UnzipPackage.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/TempDir.h"

using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

// A file-size limit stands for a disk that fills up during the extraction:
// the large entry fails, the file it replaces keeps its bytes, and nothing
// else is left in the folder.
TEST(UnzipInterruptionTest, AnEntryCutShortLeavesTheOldFile) {
  testsupport::TempDir dir;
  testsupport::CurrentDirScope cwd(dir.path());
  WriteFile("src/big.bin", patchtest::SampleBytes(256 * 1024, 3));
  patchtest::MakeZip(dir.path() / "pkg.zip", dir.path() / "src", {"big.bin"});
  WriteFile("dest/big.bin", "old bytes");

  const pid_t extractor = fork();
  ASSERT_GE(extractor, 0);
  if (extractor == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    _exit(UnzipPackage("pkg.zip", "dest") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(extractor, &status, 0), extractor);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the extraction did not fail";
  EXPECT_EQ(ReadFile("dest/big.bin"), "old bytes");
  EXPECT_EQ(std::distance(fs::directory_iterator("dest"), fs::directory_iterator()), 1);
}

}  // namespace
