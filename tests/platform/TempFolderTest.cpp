// The private temporary folder below $TMPDIR.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/TempFolder.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("TMPDIR")) {
      old_ = old;
    }
    setenv("TMPDIR", base_.str().c_str(), 1);
  }
  void TearDown() override {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

  fs::path Expected() const { return base_.path() / ("tovalauncher-" + std::to_string(geteuid())); }

  TempDir base_;
  std::optional<std::string> old_;
};

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

}  // namespace

TEST_F(TempFolderTest, CreatesAPrivateFolderWithTrailingSeparator) {
  const std::string folder = GetTempFolderPath();
  EXPECT_EQ(folder, Expected().string() + "/");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(ModeOf(Expected()), 0700u);
  EXPECT_EQ(GetTempFolderPath(), folder);  // found again
  setenv("TMPDIR", (base_.str() + "//").c_str(), 1);
  EXPECT_EQ(GetTempFolderPath(), folder);
}

TEST_F(TempFolderTest, UnusableTmpdirFallsBackToTmp) {
  for (const char* value : {"", "relative/dir", "/has\\backslash"}) {
    setenv("TMPDIR", value, 1);
    EXPECT_EQ(GetTempFolderPath(), "/tmp/tovalauncher-" + std::to_string(geteuid()) + "/") << value;
  }
}

TEST_F(TempFolderTest, RefusesFoldersOthersCouldUse) {
  auto refused = [this](const char* what) {
    EXPECT_EQ(GetTempFolderPath(), "") << what;
    fs::remove_all(Expected());
  };
  fs::create_directory(Expected());
  fs::permissions(Expected(), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  refused("readable by others");
  fs::create_directory(Expected());
  fs::permissions(Expected(), fs::perms::owner_all | fs::perms::others_all);
  refused("writable by others");
  fs::create_directory(base_.path() / "elsewhere");
  fs::permissions(base_.path() / "elsewhere", fs::perms::owner_all);
  fs::create_directory_symlink(base_.path() / "elsewhere", Expected());
  refused("a link");
  WriteFile(Expected(), "");
  refused("a file");
  if (geteuid() == 0) {
    fs::create_directory(Expected());
    fs::permissions(Expected(), fs::perms::owner_all);
    ASSERT_EQ(chown(Expected().c_str(), 65534, 65534), 0);
    refused("another user's");
  }
  setenv("TMPDIR", "/proc", 1);
  EXPECT_EQ(GetTempFolderPath(), "");  // cannot be created
}
