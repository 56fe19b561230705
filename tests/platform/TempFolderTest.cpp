// The private temporary folder below $TMPDIR.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProcessLauncher.h"
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
    SetTempFolderNoticeHandler(nullptr);
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

// A fixed folder that cannot be used is replaced by a fresh private one in
// the same base, given for it from then on; the notice says why.
TEST_F(TempFolderTest, AFolderOthersCouldUseIsReplacedByAFreshPrivateOne) {
  std::vector<std::string> notices;
  SetTempFolderNoticeHandler([&notices](const std::string& notice) { notices.push_back(notice); });
  const auto privateFolder = [](const fs::path& folder) {
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  };
  const struct {
    const char* what;
    std::function<void(const fs::path& base, const fs::path& fixed)> prepare;
    const char* why;
  } cases[] = {
      {"readable by others",
       [](const fs::path&, const fs::path& fixed) {
         fs::create_directory(fixed);
         fs::permissions(fixed, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
       },
       "open to other users"},
      {"writable by others",
       [](const fs::path&, const fs::path& fixed) {
         fs::create_directory(fixed);
         fs::permissions(fixed, fs::perms::owner_all | fs::perms::others_all);
       },
       "open to other users"},
      {"a link",
       [&](const fs::path& base, const fs::path& fixed) {
         privateFolder(base / "elsewhere");
         fs::create_directory_symlink(base / "elsewhere", fixed);
       },
       "not a folder"},
      {"a file", [](const fs::path&, const fs::path& fixed) { WriteFile(fixed, ""); }, "not a folder"},
      {"another user's",
       [&](const fs::path&, const fs::path& fixed) {
         privateFolder(fixed);
         ASSERT_EQ(chown(fixed.c_str(), 65534, 65534), 0);
       },
       "owned by another user"},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "another user's" && geteuid() != 0) continue;
    // A base of its own per case: the fresh folder is kept per fixed folder.
    const fs::path base = base_.path() / ("case" + std::to_string(index++));
    fs::create_directory(base);
    setenv("TMPDIR", base.c_str(), 1);
    const fs::path fixed = base / ("tovalauncher-" + std::to_string(geteuid()));
    c.prepare(base, fixed);
    notices.clear();

    const std::string folder = GetTempFolderPath();
    ASSERT_TRUE(folder.starts_with(fixed.string() + "-")) << folder;
    ASSERT_TRUE(folder.ends_with("/"));
    const fs::path fresh = folder.substr(0, folder.size() - 1);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(fresh)));
    EXPECT_EQ(ModeOf(fresh), 0700u);
    EXPECT_EQ(GetTempFolderPath(), folder);
    EXPECT_EQ(notices, std::vector<std::string>{"temporary folder " + fixed.string() + " cannot be used (" + c.why +
                                                "), using " + fresh.string() + " instead"});
  }
}

// A base that is missing or cannot hold folders: the fresh folder is made in
// /tmp.
TEST_F(TempFolderTest, AnUnusableBaseGivesAFreshFolderInTmp) {
  std::vector<std::string> notices;
  SetTempFolderNoticeHandler([&notices](const std::string& notice) { notices.push_back(notice); });
  for (const std::string& base : {base_.str() + "/missing", std::string("/proc")}) {
    SCOPED_TRACE(base);
    setenv("TMPDIR", base.c_str(), 1);
    notices.clear();
    const std::string folder = GetTempFolderPath();
    ASSERT_TRUE(folder.starts_with("/tmp/tovalauncher-" + std::to_string(geteuid()) + "-")) << folder;
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(GetTempFolderPath(), folder);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with("temporary folder " + base + "/tovalauncher-")) << notices[0];
    EXPECT_TRUE(notices[0].ends_with("using " + folder.substr(0, folder.size() - 1) + " instead")) << notices[0];
    fs::remove_all(folder);
  }
}

// No other process finds a fresh folder: the process that made it removes it,
// with what it holds, when it exits or replaces its image by another program
// (an exec skips the removal at exit).
TEST_F(TempFolderTest, AFreshFolderGoesWithItsProcess) {
  const fs::path fixed = Expected();
  WriteFile(fixed, "");  // a file: the fixed folder cannot be used
  const fs::path made = base_.path() / "made";
  const struct {
    const char* how;
    std::function<void()> end;
  } endings[] = {
      {"exit", [] { std::exit(0); }},
      {"exec",
       [] {
         static_cast<void>(ReplaceProcessImage("/bin/true", nullptr, {}));
         std::_Exit(3);
       }},
  };
  for (const auto& ending : endings) {
    SCOPED_TRACE(ending.how);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string folder = GetTempFolderPath();
      WriteFile(folder + "kept.txt", "");
      WriteFile(made, folder);
      ending.end();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string folder = ReadFile(made);
    ASSERT_TRUE(folder.starts_with(fixed.string() + "-")) << folder;
    EXPECT_FALSE(fs::exists(folder));
  }
}
