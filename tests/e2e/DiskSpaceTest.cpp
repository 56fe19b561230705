// Disk space running out, simulated by the operating system and not by the
// launcher: a file-size limit on the launcher process while it downloads an
// installation page, and a small tmpfs as the game folder while a patch
// copies its files into it. After space is back, a run answering yes to
// every question ends with the published game. Zip bombs, a page or a package
// of a few MiB declaring more than the disk holds, are refused before they
// fill it, so that the next run is not stopped by the space they took.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;
using testsupport::WriteFile;

constexpr const char* kPatchQuestion = "アップデートに失敗しました。 ゲームデータの復元を行いますか?";
constexpr const char* kRepairFailed = "ゲームデータの復元に失敗しました。しばらくしてからもう一度お試しください。";

// Writes the zip `zip` with `count` entries "data/zero<i>.bin" of `bytes`
// zeros each, deflated: about 4 MiB per GiB.
void WriteZipBomb(const fs::path& zip, int count, uint64_t bytes) {
  const fs::path script = zip.parent_path() / "bomb.py";
  WriteFile(script, R"(import sys, zipfile
path, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
piece = bytes(1 << 24)
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
    for i in range(count):
        with archive.open("data/zero%d.bin" % i, "w") as entry:
            left = size
            while left:
                entry.write(piece[:min(left, len(piece))])
                left -= min(left, len(piece))
)");
  ASSERT_EQ(testsupport::RunShell("python3 '" + script.string() + "' '" + zip.string() + "' " + std::to_string(count) +
                                  " " + std::to_string(bytes)),
            0);
  fs::remove(script);
}

class DiskSpaceTest : public FaultChainTest {
 protected:
  // The game folder, and with it the launcher folder, on a file system with
  // room for the game and the 2 GiB that every download asks to be free; the
  // launcher of the pristine tree installed. False (the test skipped) when no
  // file system can be mounted.
  bool MountRoomyGameFolder() {
    mount_ = std::make_unique<testsupport::ScopedMount>(gameDir(), (2ull << 30) + (256ull << 20));
    if (!mount_->ok()) return false;
    fs::create_directories(launcherDir());
    InstallLauncherVersion("pristine");
    return true;
  }

  // Server `name`, a copy of the pristine tree, with the zip `zip` of the
  // plain description `description` in `folder` (below the base) replaced by
  // a bomb that declares 2.5 GiB in a few MiB; its base URL.
  std::string BombServer(const std::string& name, const std::string& folder, const std::string& zip,
                         const std::string& description) {
    const std::string base = CopyOfPristine(name);
    WriteZipBomb(ServerBase(name) / folder / zip, 2, 5ull << 28);
    e2e::RewritePackageEntry(ServerBase(name) / folder, zip, description);
    return base;
  }

  uint64_t FreeBytesOfGameFolder() const {
    struct statvfs space {};
    EXPECT_EQ(statvfs(gameDir().c_str(), &space), 0);
    return static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  }

  std::unique_ptr<testsupport::ScopedMount> mount_;

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
  testsupport::ScopedMount gameMount(gameDir(), 16 * 1024 * 1024);
  if (!gameMount.ok()) GTEST_SKIP() << gameMount.problem() << " (the test needs to mount file systems)";
  testsupport::ScopedMount launcherMount(launcherDir(), 4ull << 30);
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

// An installation page of a few MiB that holds 2.5 GiB of zeros is refused
// before anything is written; the installation continues through the repair.
TEST_F(DiskSpaceTest, AZipBombPageIsRefusedBeforeItFillsTheDisk) {
  const std::string pristine = PublishPristine();
  if (!MountRoomyGameFolder()) GTEST_SKIP() << mount_->problem() << " (the test needs to mount file systems)";
  const std::string bomb = BombServer("bomb", "InstallVersion/InstallPage_1.0", "page0.zip", "intallinfo_1.0.ini");
  WriteBases({bomb, bomb, bomb, bomb});

  const size_t mark = Events().size();
  EXPECT_EQ(Run({}, "y\n"), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark),
                      {"LE_InstallWithMode", "LE_InstallByCPFail", "LE_RPInstallVersion", "LE_GamePatchNoNeed"}))
      << Joined(EventNamesSince(mark));
  const std::vector<std::string> failures = EventTextsSince(mark, "LE_InstallByCPFail");
  EXPECT_NE(std::find(failures.begin(), failures.end(), "unzip pageinner"), failures.end()) << Joined(failures);
  EXPECT_FALSE(fs::exists(gameDir() / "data/zero0.bin"));
  EXPECT_GT(FreeBytesOfGameFolder(), 2ull << 30);
  WaitForProcessesInGameTree();

  WriteBases({pristine, pristine, pristine, pristine});
  ExpectRecovery();
}

// A patch package of a few MiB that holds 2.5 GiB of zeros is refused before
// the staging folder fills the disk; the repair that follows brings the game
// up to date.
TEST_F(DiskSpaceTest, AZipBombPackageIsRefusedBeforeItFillsTheDisk) {
  const std::string pristine = PublishPristine({"--plain"});
  if (!MountRoomyGameFolder()) GTEST_SKIP() << mount_->problem() << " (the test needs to mount file systems)";
  InstallGameVersion("pristine", kVersions.front());
  const std::string bomb = BombServer("bomb", "AutoPatch/AutoPatch_1.0_1.1", "package0.zip", "patchinfo_1.0_1.1.ini");
  WriteBases({bomb, bomb, bomb, bomb});

  const size_t mark = Events().size();
  EXPECT_EQ(Run({}, "y\n"), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark),
                      {"LE_StartGamePatch", "LE_GamePatchFail", "LE_GameRepaireVersion", "LE_GamePatchNoNeed"}))
      << Joined(EventNamesSince(mark));
  EXPECT_NE(output.find(kPatchQuestion), std::string::npos) << output;
  EXPECT_NE(LaunchLog().find("Unzip Error, UnComPress Error  Path =temp_patch\\AutoPatch_1.0_1.1\\package0.zip"),
            std::string::npos)
      << LaunchLog();
  EXPECT_GT(FreeBytesOfGameFolder(), 2ull << 30);
  WaitForProcessesInGameTree();

  WriteBases({pristine, pristine, pristine, pristine});
  ExpectRecovery();
}

// A cut-short run left 64 MiB in "temp_d" and 64 MiB in the applier's
// staging folder, on a launcher folder of 2 GiB + 96 MiB: less than the
// 2 GiB every download asks for, unless the launcher's own leftovers do not
// count. The next run ends with the published game.
TEST_F(DiskSpaceTest, LeftoversOfACutShortRunDoNotBlockTheNextRun) {
  const std::string base = PublishPristine();
  testsupport::ScopedMount launcherMount(launcherDir(), uint64_t{2048 + 96} << 20);
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
