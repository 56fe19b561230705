#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "BuildSettings.h"
#include "Procedure/LauncherConfig.h"
#include "platform/SystemPath.h"
#include "platform/TempFolder.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const ConfigUrlKey* const kUrlKeys[] = {&kLauncherUrlKey, &kGameUrlKey, &kInstallUrlKey, &kUpdateUrlKey,
                                        &kRepaireUrlKey};

// Sets an environment variable for the lifetime of the object.
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) previous_ = old, hadValue_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~EnvScope() { hadValue_ ? setenv(name_, previous_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string previous_;
  bool hadValue_ = false;
};

}  // namespace

TEST(LauncherConfig, ServerBasesJoinTheRootsAndTheGameCode) {
  EXPECT_EQ(PrimaryServerBase(), LAUNCHER_PRIMARY_ROOT "/KVMETRA");
  EXPECT_EQ(BackupServerBase(), LAUNCHER_BACKUP_ROOT "/KVMETRA");
}

TEST(LauncherConfig, MissingFileGivesDefaults) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  EXPECT_EQ(ReadConfigUrl(kLauncherUrlKey), BackupServerBase());
  EXPECT_EQ(ReadConfigUrl(kInstallUrlKey), BackupServerBase());
  EXPECT_EQ(ReadConfigUrl(kUpdateUrlKey), BackupServerBase());
  EXPECT_EQ(ReadConfigUrl(kRepaireUrlKey), BackupServerBase());
  EXPECT_EQ(ReadConfigUrl(kGameUrlKey), "");
  EXPECT_FALSE(IsSelfPatchSkipped());
}

TEST(LauncherConfig, EveryKeyIsReadFromItsSection) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  WriteFile("launcher.ini",
            "[launcher]\nlauncherUrl=http://l\n[game]\ngameUrl=http://g\n[install]\ninstallUrl=http://i\n"
            "[update]\nupdateUrl=http://u\n[repaire]\nrepaireUrl=http://r\n");
  EXPECT_EQ(ReadConfigUrl(kLauncherUrlKey), "http://l");
  EXPECT_EQ(ReadConfigUrl(kGameUrlKey), "http://g");
  EXPECT_EQ(ReadConfigUrl(kInstallUrlKey), "http://i");
  EXPECT_EQ(ReadConfigUrl(kUpdateUrlKey), "http://u");
  EXPECT_EQ(ReadConfigUrl(kRepaireUrlKey), "http://r");
}

TEST(LauncherConfig, ValuesThatReadEmptyGetTheDefault) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const char* value : {"", "   ", "\"\""}) {
    for (const ConfigUrlKey* key : kUrlKeys) {
      WriteFile("launcher.ini", std::string("[") + key->section + "]\n" + key->key + "=" + value + "\n");
      EXPECT_EQ(ReadConfigUrl(*key), key->defaultsToBackupBase ? BackupServerBase() : "")
          << key->key << " '" << value << "'";
    }
  }
}

TEST(LauncherConfig, LongValuesAreCutTo259Characters) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (size_t length : {258u, 259u, 260u, 400u}) {
    const std::string value = "http://h/" + std::string(length - 9, 'x');
    WriteFile("launcher.ini", "[update]\nupdateUrl=" + value + "\n");
    EXPECT_EQ(ReadConfigUrl(kUpdateUrlKey), value.substr(0, 259)) << length;
  }
}

TEST(LauncherConfig, OnlyDebugOneSkipsTheSelfUpdate) {
  const struct {
    const char* ini;
    bool skipped;
  } cases[] = {
      {"[debug]\ndebug=1\n", true},  {"[debug]\ndebug= 1 \n", true}, {"[DEBUG]\nDebug=1\n", true},
      {"[debug]\ndebug=2\n", false}, {"[debug]\ndebug=0\n", false},  {"[debug]\ndebug=\n", false},
      {"[debug]\n", false},          {"[other]\ndebug=1\n", false},
  };
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const auto& c : cases) {
    WriteFile("launcher.ini", c.ini);
    EXPECT_EQ(IsSelfPatchSkipped(), c.skipped) << c.ini;
  }
}

TEST(LauncherConfig, DownloadSpeedLimitIsReadInKiBPerSecond) {
  const struct {
    const char* ini;
    uint64_t bytesPerSecond;
  } cases[] = {
      {"", 0},
      {"[download]\nmaxKiBps=0\n", 0},
      {"[download]\nmaxKiBps=512\n", 512 * 1024},
      {"[Download]\nMAXKIBPS = 3\n", 3 * 1024},
      {"[download]\nmaxKiBps=-5\n", 0},
      {"[download]\nmaxKiBps=fast\n", 0},
      {"[debug]\nmaxKiBps=100\n", 0},
  };
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const auto& c : cases) {
    WriteFile("launcher.ini", c.ini);
    EXPECT_EQ(ReadDownloadSpeedLimit(), c.bytesPerSecond) << c.ini;
  }
}

TEST(LauncherConfig, AddressesAreThePlainConcatenationOfBaseAndSuffix) {
  const struct {
    const ProcedurePaths* paths;
    std::string base;
    std::string firstDownload;
    std::string folderPrefix;
  } cases[] = {
      {&kGamePatchPaths, "http://h/KVMETRA", "http://h/KVMETRA\\AutoPatch\\AutoPatch.ini",
       "http://h/KVMETRA\\AutoPatch\\AutoPatch_"},
      // A base ending with "/" keeps it; no separator is added or removed.
      {&kSelfPatchPaths, "http://h/", "http://h/\\LauncherVersion\\version", "http://h/\\LauncherVersion\\Launcher_"},
      // An empty base (no [game] gameUrl) leaves the bare suffix.
      {&kGamePatchPaths, "", "\\AutoPatch\\AutoPatch.ini", "\\AutoPatch\\AutoPatch_"},
  };
  for (const auto& c : cases) {
    ServerAddresses addresses = MakeServerAddresses(*c.paths, c.base);
    EXPECT_EQ(addresses.base, c.base);
    EXPECT_EQ(addresses.firstDownload, c.firstDownload);
    EXPECT_EQ(addresses.folderPrefix, c.folderPrefix);
  }
}

TEST(LauncherConfig, DecipheredListLiesInThePrivateTemporaryFolder) {
  TempDir dir;
  EnvScope tmpdir("TMPDIR", dir.str());
  const std::string folder = GetTempFolderPath();
  ASSERT_FALSE(folder.empty());
  const std::string path = DecipheredListPath();
  EXPECT_EQ(path, folder + "\\GameInfo.ini.UnCypt");
  // The doubled separator still names a file in that folder.
  WriteFile(ToSystemPath(path), "x");
  EXPECT_EQ(ReadFile(folder + "GameInfo.ini.UnCypt"), "x");
}

// A folder cannot be made below a plain file: the deciphered list lies in a
// fresh private folder in /tmp instead, never at the root of the file system.
TEST(LauncherConfig, AnUnusableTemporaryFolderGivesAFreshOneForTheDecipheredList) {
  TempDir dir;
  WriteFile(dir.path() / "file", "");
  EnvScope tmpdir("TMPDIR", (dir.path() / "file").string());
  const std::string path = DecipheredListPath();
  EXPECT_TRUE(path.starts_with("/tmp/tovalauncher-" + std::to_string(geteuid()) + "-")) << path;
  EXPECT_TRUE(path.ends_with("/\\GameInfo.ini.UnCypt")) << path;
  std::filesystem::remove_all(path.substr(0, path.rfind('/')));
}

TEST(LauncherConfig, TheLaunchersWorkingFilesAreKnownByTheirFirstComponent) {
  const struct {
    const char* name;
    bool working;
  } cases[] = {
      {"TovaLaunch.bin", true},
      {"tovalaunch.BIN", true},
      {"Launch.log", true},
      {".\\Launch.log", true},
      {"./Launch.log.bak", true},
      {"launcher.ini", true},
      {"GameInfo.ini", true},
      {"TovaLauncher.lock", true},
      {"SignedSerial", true},
      {"TempUpdata\\Unzip\\a.dat", true},
      {"temp_launcher\\GameInfo.ini", true},
      {"Temp_D/~Qo.temp.version", true},
      {"temp_anything", true},
      {"TovaLaunch.bin\\inside", true},
      {"TovaLauncher.exe", false},
      {"skin/Launch.log", false},
      {"launcher.ini.bak", false},
      {"Launch", false},
      {"temporary.txt", false},
      {"TempUpdata2", false},
      {"data\\temp_x", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLauncherWorkingName(c.name), c.working) << c.name;
}
