// Free space of the file system holding a path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "platform/DiskSpace.h"
#include "tests/support/TempDir.h"

using namespace testsupport;

TEST(DiskSpace, ReportsTheSpaceOfExistingPaths) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "a/b");
  uint64_t bytes = 0;
  ASSERT_TRUE(GetDiskFreeBytes(dir.str() + "\\a\\b", bytes));
  // Other programs may write meanwhile: the same file system within 256 MiB.
  const double available = static_cast<double>(std::filesystem::space(dir.path()).available);
  EXPECT_NEAR(static_cast<double>(bytes), available, 256.0 * 1024 * 1024);
  bytes = 42;
  EXPECT_FALSE(GetDiskFreeBytes(dir.str() + "\\missing", bytes));
  EXPECT_EQ(bytes, 42u);
}

TEST(DiskSpace, APathNotMadeYetIsAnsweredByTheNearestFolderAboveIt) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  std::filesystem::create_directories(dir.path() / "a");
  const std::pair<const char*, const char*> cases[] = {
      {"a\\b\\c\\file.bin", "a"}, {"a/b", "a"}, {"missing.bin", "."}, {"a", "a"}};
  for (const auto& [path, answering] : cases) {
    uint64_t bytes = 0;
    std::string asked;
    EXPECT_TRUE(GetDiskFreeBytesFor(path, bytes, &asked)) << path;
    EXPECT_GT(bytes, 0u) << path;
    EXPECT_EQ(asked, answering) << path;
  }
  uint64_t bytes = 42;
  EXPECT_TRUE(GetDiskFreeBytesFor(dir.str() + "/x/y", bytes));
  EXPECT_NE(bytes, 42u);
}
