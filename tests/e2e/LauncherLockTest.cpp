// One launcher per launcher folder: the launcher holds the lock on
// "TovaLauncher.lock" from its start to its end, through the start of its
// copy and the relaunch after a self-update, and a second launcher started
// meanwhile says that a launcher is already running and ends without
// touching the first one's files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <sstream>
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
using e2e::ProgramRun;
using testsupport::ReadFile;
using Ms = std::chrono::milliseconds;

constexpr const char* kAlreadyRunning = "ランチャーは既に起動しています。";
constexpr Ms kPoll{1};

class LauncherLockTest : public FaultChainTest {
 protected:
  fs::path LockFile() const { return launcherDir() / "TovaLauncher.lock"; }

  // The processes holding a flock on the lock file, as /proc/locks lists
  // them (by inode number: the device may be listed as the file system
  // below an overlay). Looking does not take the lock, so it cannot get in
  // the launcher's way.
  std::vector<pid_t> LockHolders() const {
    struct stat st {};
    if (stat(LockFile().c_str(), &st) != 0) return {};
    const std::string inode = ":" + std::to_string(st.st_ino);
    std::vector<pid_t> holders;
    std::istringstream locks(ReadFile("/proc/locks"));
    for (std::string line; std::getline(locks, line);) {
      // "1: FLOCK  ADVISORY  WRITE 1175 fe:00:10953000 0 EOF"; waiters have "->".
      std::istringstream fields(line);
      std::string number, kind, mode, access, pid, file;
      fields >> number >> kind >> mode >> access >> pid >> file;
      if (kind != "FLOCK" || !file.ends_with(inode)) continue;
      holders.push_back(static_cast<pid_t>(std::stoi(pid)));
    }
    return holders;
  }
};

// Polled through a self-update with its relaunch: once held, the lock is
// never seen free and then held again, which would be a lock lost on the way
// (a second launcher could have taken it); after the end nothing holds it.
TEST_F(LauncherLockTest, TheLockIsHeldFromTheStartToTheEndThroughTheRelaunch) {
  const std::string base = Publish("selfupdate", LauncherSource("2", "\nnewer build\n"), {"1.0"});
  InstallGameVersion("selfupdate", "1.0");
  WriteConfig(base);
  std::unique_ptr<ProgramRun> run = Start(launcherDir() / "TovaLauncher.exe", {}, "", launcherDir());
  int heldSeen = 0;
  bool freeSeen = false;
  bool lost = false;
  while (!run->Wait(Ms(0)).has_value()) {
    const bool held = !LockHolders().empty();
    lost = lost || (held && freeSeen);
    if (held) {
      ++heldSeen;
    } else if (heldSeen > 0) {
      freeSeen = true;
    }
    std::this_thread::sleep_for(kPoll);
  }
  EXPECT_EQ(Finish(std::move(run)), 0) << output;
  EXPECT_GT(heldSeen, 0);
  EXPECT_FALSE(lost);
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfSuccess", "LE_UpdateSelfNoNeed", "LE_GamePatchNoNeed"})) << Joined(names);
  ExpectClientStarted();
  EXPECT_TRUE(LockHolders().empty());
}

TEST_F(LauncherLockTest, ASecondLauncherSaysThatOneRunsAndEnds) {
  const std::string base = PublishPristine();
  ResetGameTree("pristine");
  InstallGameVersion("pristine", kVersions.front());
  // The first launcher's self-update stalls on the launcher's executable,
  // which differs from the published one.
  InstallProgram(launcherDir() / "TovaLauncher.exe", "\nlocal build\n");
  WriteBases({FaultBase("__stall", "pristine"), base, base, base});
  std::unique_ptr<ProgramRun> first = Start(launcherDir() / "TovaLauncher.exe", {}, "", launcherDir());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (LaunchLog().find("start repair!") == std::string::npos || LockHolders().empty()) {
    ASSERT_FALSE(first->Wait(Ms(0)).has_value()) << "the first launcher ended";
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the first launcher's self-update did not begin\n"
                                                          << LaunchLog();
    std::this_thread::sleep_for(Ms(10));
  }
  const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
  const std::string copy = ReadFile(launcherDir() / "TovaLaunch.bin");

  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-runbin"}}) {
    SCOPED_TRACE(args.empty() ? "installed launcher" : "-runbin");
    EXPECT_EQ(Run(args, ""), 1) << output;
    EXPECT_NE(output.find(kAlreadyRunning), std::string::npos) << output;
  }
  EXPECT_FALSE(first->Wait(Ms(0)).has_value());
  EXPECT_EQ(ReadFile(launcherDir() / "Launch.log.bak"), backup);
  EXPECT_TRUE(ReadFile(launcherDir() / "TovaLaunch.bin") == copy);
  const std::string log = LaunchLog();
  EXPECT_NE(log.find("another launcher runs in this folder (TovaLauncher.lock is locked), exit"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("start repair!"), log.rfind("start repair!")) << log;

  // Killed, the first launcher leaves no lock behind: the next start with
  // healthy servers goes through.
  first.reset();
  WaitForProcessesInGameTree();
  WriteBases({base, base, base, base});
  EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
  ExpectClientStarted();
  ExpectPublished("pristine", kLatest);
  WaitForProcessesInGameTree();
}

}  // namespace
