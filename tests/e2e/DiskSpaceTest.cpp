// Disk space running out, simulated by the operating system and not by the
// launcher: a file-size limit on the launcher process while it downloads an
// installation page, and a small tmpfs as the game folder while a patch
// copies its files into it. After space is back, a run answering yes to
// every question ends with the published game.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;
using testsupport::WriteFile;

constexpr const char* kPatchQuestion = "アップデートに失敗しました。 ゲームデータの復元を行いますか?";
constexpr const char* kRepairFailed = "ゲームデータの復元に失敗しました。しばらくしてからもう一度お試しください。";

class DiskSpaceTest : public FaultChainTest {
 protected:
  // The run after space is back.
  void ExpectRecovery() {
    RemoveClientRecords();
    const size_t mark = Events().size();
    EXPECT_EQ(Run({}, "y\ny\ny\n"), 0) << output << LaunchLog();
    EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_GamePatchNoNeed"})) << Joined(EventNamesSince(mark));
    ExpectClientStarted();
    ExpectPublished("pristine", kLatest);
    WaitForProcessesInGameTree();
  }
};

// Files may not grow beyond 256 KiB: the first page (about 300 KiB) cannot
// be written. The limit is set for the process that runs the window (the
// copy's role, "-runbin"), so that the start-up's copy of the program is not
// refused; SIGXFSZ is ignored, so that a write beyond the limit fails with
// EFBIG, as one would on a full disk, instead of ending the process.
TEST_F(DiskSpaceTest, RunningOutDuringADownloadStopsTheInstallation) {
  const std::string base = PublishPristine();
  ResetGameTree("pristine");
  WriteBases({base, base, base, base});

  const size_t mark = Events().size();
  EXPECT_EQ(Finish(Start("/bin/sh", {"-c", "trap '' XFSZ; exec prlimit --fsize=262144 ./TovaLauncher.exe -runbin"}, "",
                         launcherDir())),
            1)
      << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_InstallWithMode", "LE_InstallByCPFail"}))
      << Joined(EventNamesSince(mark));
  EXPECT_EQ(EventTextsSince(mark, "LE_StartCPInstall").size(), 1u);
  EXPECT_EQ(EventTextsSince(mark, "LE_InstallByCPFail"), std::vector<std::string>{"down page"});
  const std::string log = LaunchLog();
  EXPECT_NE(log.find("start file download fail: 5 temp_game_install\\InstallPage_1.0\\page0.zip"), std::string::npos)
      << log;
  EXPECT_NE(log.find("PRO_GAME_PATCH_DOWNLOAD_ERROR"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(gameDir() / "GameInfo.ini"));

  ExpectRecovery();
}

// The game folder is a tmpfs with 128 KiB left after the first version; the
// launcher folder (downloads, staging) is a tmpfs of its own with room. The
// first patch adds a file of 512 KiB: its copy fails, the repair offered
// fails to copy it as well.
TEST_F(DiskSpaceTest, RunningOutDuringTheCopyPhaseFailsThePatchAndTheRepair) {
  const std::string base = PublishPristine();
  e2e::ScopedMount gameMount(gameDir(), 16 * 1024 * 1024);
  if (!gameMount.ok()) GTEST_SKIP() << gameMount.problem() << " (the test needs to mount file systems)";
  e2e::ScopedMount launcherMount(launcherDir(), 4ull << 30);
  ASSERT_TRUE(launcherMount.ok()) << launcherMount.problem();
  InstallLauncherVersion("pristine");
  InstallGameVersion("pristine", kVersions.front());
  WriteBases({base, base, base, base});

  struct statvfs space {};
  ASSERT_EQ(statvfs(gameDir().c_str(), &space), 0);
  const uint64_t freeBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  const uint64_t left = 128 * 1024;
  ASSERT_GT(freeBytes, left);
  const fs::path filler = gameDir() / "filler.bin";
  WriteFile(filler, std::string(freeBytes - left, '\0'));

  const size_t mark = Events().size();
  EXPECT_EQ(Run({}, "y\n"), 1) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_StartGamePatch", "LE_GamePatchFail", "LE_GameRepaireVersion"}))
      << Joined(EventNamesSince(mark));
  EXPECT_EQ(EventTextsSince(mark, "LE_StartRepire").size(), 1u);
  EXPECT_EQ(EventTextsSince(mark, "LE_GamePatchFail"), std::vector<std::string>{"file update"});
  EXPECT_EQ(EventTextsSince(mark, "LE_GameRepaireFail"), std::vector<std::string>{"replace rpfile"});
  EXPECT_NE(output.find(kPatchQuestion), std::string::npos) << output;
  EXPECT_NE(output.find(kRepairFailed), std::string::npos) << output;
  EXPECT_NE(LaunchLog().find("MoveFile error"), std::string::npos) << LaunchLog();
  EXPECT_EQ(EventTextsSince(mark, "LE_GameStartSuccess").size(), 0u);

  fs::remove(filler);
  ExpectRecovery();
}

// A cut-short run left 64 MiB in "temp_d" and 64 MiB in the applier's
// staging folder, on a launcher folder of 2 GiB + 96 MiB: less than the
// 2 GiB every download asks for, unless the launcher's own leftovers do not
// count. The next run ends with the published game.
TEST_F(DiskSpaceTest, LeftoversOfACutShortRunDoNotBlockTheNextRun) {
  const std::string base = PublishPristine();
  e2e::ScopedMount launcherMount(launcherDir(), uint64_t{2048 + 96} << 20);
  if (!launcherMount.ok()) GTEST_SKIP() << launcherMount.problem() << " (the test needs to mount file systems)";
  InstallLauncherVersion("pristine");
  InstallGameVersion("pristine", kVersions.front());
  WriteBases({base, base, base, base});
  WriteFile(launcherDir() / "temp_d" / "~Qo.temp.version", std::string(64 << 20, '\0'));
  WriteFile(launcherDir() / "TempUpdata" / "Unzip" / "data" / "big.bin", std::string(64 << 20, '\0'));

  ExpectRecovery();
  EXPECT_FALSE(fs::exists(launcherDir() / "temp_d" / "~Qo.temp.version"));
}

}  // namespace
