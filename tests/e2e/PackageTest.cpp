// The Debian package as a player meets it: built by CPack from this build,
// clean for lintian and desktop-file-validate, unpacked into a scratch root,
// its starter run with a scratch home against the test servers. The first
// start makes the game folder in the user's data folder with the user's own
// launcher, which updates itself, installs the game and starts the client; a
// second start runs that copy as it is.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;
using testsupport::ReadFile;
using testsupport::RunShell;

// The backup root of this build: the base the packaged launcher.ini names.
constexpr int kBackupPort = 18081;

class PackageTest : public FaultChainTest {
 protected:
  // Runs `command` in a shell; its standard output, and the exit status in
  // `status`.
  std::string Output(const std::string& command, int& status) const {
    const fs::path out = root() / "command.out";
    status = RunShell(command + " > '" + out.string() + "' 2>&1");
    return ReadFile(out);
  }

  // Runs the unpacked starter with a scratch home and `extra` environment.
  int Start(const fs::path& sysroot, const std::vector<std::string>& args, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {(sysroot / "usr/bin/tovalauncher").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = Environment();
    environment.push_back("HOME=" + (root() / "home").string());
    environment.push_back("XDG_DATA_HOME=");
    environment.push_back("TOVALAUNCHER_GAME_FOLDER=");
    environment.insert(environment.end(), extra.begin(), extra.end());
    e2e::ProgramRun run(argv, root(), "y\ny\ny\ny\n", environment);
    const std::optional<int> status = run.Wait(kRunTimeout);
    output = run.Output();
    return status.value_or(-1);
  }

  // The fake client ran in `game`'s client folder with the fixed arguments.
  static void ExpectClientStartedIn(const fs::path& game) {
    const fs::path done = game / "client" / "cwd.txt";
    for (int i = 0; i < 1000 && (!fs::exists(done) || fs::file_size(done) == 0); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(done));
    EXPECT_EQ(ReadFile(done), fs::canonical(game / "client").string() + "\n");
    fs::remove(done);
  }
};

TEST_F(PackageTest, ThePackageInstallsAStarterThatRunsEachPlayersOwnLauncher) {
  const fs::path work = root() / "package";
  fs::create_directories(work);
  int status = 0;
  const fs::path config = e2e::BuiltProgram("CPackConfig.cmake");
  const std::string built =
      Output("cd '" + work.string() + "' && cpack -G DEB --config '" + config.string() + "'", status);
  ASSERT_EQ(status, 0) << built;
  const fs::path deb = work / "tovalauncher_1.0.0_amd64.deb";
  ASSERT_TRUE(fs::exists(deb)) << built;

  const std::string listed = Output("dpkg-deb -c '" + deb.string() + "'", status);
  ASSERT_EQ(status, 0) << listed;
  for (const char* file :
       {"./usr/bin/tovalauncher", "./usr/lib/tovalauncher/TovaLauncher.exe", "./usr/lib/tovalauncher/launcher.ini",
        "./usr/share/applications/tovalauncher.desktop", "./usr/share/icons/hicolor/48x48/apps/tovalauncher.png",
        "./usr/share/icons/hicolor/256x256/apps/tovalauncher.png", "./usr/share/doc/tovalauncher/copyright",
        "./usr/share/man/man1/tovalauncher.1.gz"}) {
    EXPECT_NE(listed.find(std::string(file) + "\n"), std::string::npos) << file << " is not in\n" << listed;
  }
  const std::string lintian = Output("lintian --fail-on error '" + deb.string() + "'", status);
  EXPECT_EQ(status, 0) << lintian;

  const fs::path sysroot = root() / "sysroot";
  ASSERT_EQ(RunShell("dpkg -x '" + deb.string() + "' '" + sysroot.string() + "'"), 0);
  const std::string desktop = Output(
      "desktop-file-validate '" + (sysroot / "usr/share/applications/tovalauncher.desktop").string() + "'", status);
  EXPECT_EQ(status, 0) << desktop;

  // The packaged launcher.ini names the backup root; the server tree's
  // launcher (this test build's program) replaces the packaged one.
  PublishPristine();
  ServePrimary("pristine");
  e2e::FixedPortServer backup(ServerBase("pristine").parent_path(), kBackupPort, root() / "backup-logs");
  ASSERT_EQ(backup.problem(), "");

  const fs::path game = root() / "home" / ".local" / "share" / "tovalauncher";
  size_t mark = Events().size();
  EXPECT_EQ(Start(sysroot, {}, {}), 0) << output;
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_UpdateSelfSuccess", "LE_InstallSuccess", "LE_GameStartSuccess"}))
      << Joined(EventNamesSince(mark));
  ExpectClientStartedIn(game);
  EXPECT_EQ(ReadFile(game / "launcher" / "TovaLauncher.exe"), ReadFile(launcherDir() / "TovaLauncher.exe"));
  EXPECT_EQ(ReadFile(game / "launcher" / "launcher.ini"), ReadFile(sysroot / "usr/lib/tovalauncher/launcher.ini"));
  EXPECT_EQ(ReadFile(game / "GameInfo.ini"),
            ReadFile(ServerBase("pristine") / "GameVersion" / (std::string("Game_") + kLatest) / "GameInfo.ini"));

  // The second start runs the updated copy: nothing is copied again.
  mark = Events().size();
  EXPECT_EQ(Start(sysroot, {}, {}), 0) << output;
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_UpdateSelfNoNeed", "LE_GamePatchNoNeed", "LE_GameStartSuccess"}))
      << Joined(EventNamesSince(mark));
  ExpectClientStartedIn(game);
  EXPECT_EQ(ReadFile(game / "launcher" / "TovaLauncher.exe"), ReadFile(launcherDir() / "TovaLauncher.exe"));

  // Another game folder, named by the environment; it ends as published.
  WaitForProcessesInGameTree();
  fs::remove_all(gameDir());
  EXPECT_EQ(Start(sysroot, {}, {"TOVALAUNCHER_GAME_FOLDER=" + gameDir().string()}), 0) << output;
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  WaitForProcessesInGameTree();
}

}  // namespace
