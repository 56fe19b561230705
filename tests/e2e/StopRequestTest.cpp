// Stopping the launcher while it downloads: SIGTERM (as a script or a session
// manager sends it) stops at once, Ctrl-C on its terminal asks first. Either
// way the launcher ends with status 1, says so in its launch log and keeps
// the page's bytes, and the next run fetches only the rest.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::ProgramRun;

constexpr std::chrono::milliseconds kPoll{20};

class StopRequestTest : public FaultChainTest {
 protected:
  void SetUp() override {
    // A page of a few MiB, fetched at 64 KiB/s: the download lasts long
    // enough to be stopped in the middle.
    levelCount_ = 1;
    levelBytes_ = 2 * 1024 * 1024;
    FaultChainTest::SetUp();
    PublishPristine();
    base_ = CopyOfPristine(kName);
    ResetGameTree(kName);
    ServePrimary("");
    WriteBases({base_, FaultBase("__resumable/range/0", kName), base_, base_});
    testsupport::WriteFile(launcherDir() / "launcher.ini",
                           testsupport::ReadFile(launcherDir() / "launcher.ini") + "[download]\nmaxKiBps=64\n");
  }

  fs::path Kept() const { return launcherDir() / "temp_d" / "~Qo.temp.page0"; }

  // The launcher started on the slow installation.
  std::unique_ptr<ProgramRun> StartInstall(bool onTerminal) {
    return std::make_unique<ProgramRun>(std::vector<std::string>{(launcherDir() / "TovaLauncher.exe").string()},
                                        launcherDir(), "", Environment(), onTerminal ? 80 : 0);
  }

  // Waits until `done` holds; false when the run ended or the time ran out first.
  bool WaitWhileRunning(ProgramRun& run, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
    while (!done()) {
      if (run.Wait(std::chrono::milliseconds(0)) || std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(kPoll);
    }
    return true;
  }

  uintmax_t KeptBytes() const {
    std::error_code error;
    const uintmax_t size = fs::file_size(Kept(), error);
    return error ? 0 : size;
  }

  // The stopped run left the page's bytes with their record; the next run,
  // without the rate limit and with the primary behind it, asks for the rest
  // only and ends with the published game.
  void ExpectTheNextRunResumes(uintmax_t held) {
    EXPECT_GT(held, 0u);
    EXPECT_TRUE(fs::exists(Kept().string() + ".part")) << LaunchLog();
    const size_t sentBefore = FaultServerSent().size();
    WaitForProcessesInGameTree();
    ServePrimary(kName);
    WriteBases({base_, FaultBase("__resumable/range/0", kName), base_, base_});
    EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
    ExpectClientStarted();
    ExpectPublished(kName, kLatest);
    const std::string sent = FaultServerSent().substr(sentBefore);
    EXPECT_NE(sent.find(" bytes=" + std::to_string(held) + "- "), std::string::npos) << sent;
    WaitForProcessesInGameTree();
  }

  static constexpr const char* kName = "stop";
  std::string base_;
};

TEST_F(StopRequestTest, SigtermStopsTheDownloadAtOnceAndTheNextRunResumesIt) {
  std::unique_ptr<ProgramRun> run = StartInstall(false);
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return KeptBytes() > 0; })) << run->Output() << LaunchLog();
  run->Signal(SIGTERM);
  EXPECT_EQ(Finish(std::move(run)), 1) << output;
  EXPECT_NE(LaunchLog().find("stopped on request (SIGTERM)"), std::string::npos) << LaunchLog();
  EXPECT_EQ(output.find("更新を中止しますか"), std::string::npos) << output;
  ExpectTheNextRunResumes(KeptBytes());
}

TEST_F(StopRequestTest, CtrlCOnTheTerminalAsksAndNoGoesOnYesStops) {
  std::unique_ptr<ProgramRun> run = StartInstall(true);
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return KeptBytes() > 0; })) << run->Output() << LaunchLog();
  const auto questions = [&] {
    const std::string shown = run->Output();
    size_t count = 0;
    for (size_t at = shown.find("更新を中止しますか？"); at != std::string::npos;
         at = shown.find("更新を中止しますか？", at + 1))
      ++count;
    return count;
  };

  run->Type("\x03");
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return questions() == 1; })) << run->Output();
  run->Type("n\n");
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return LaunchLog().find("stop declined (Ctrl-C)") != std::string::npos; }))
      << run->Output() << LaunchLog();
  // The download goes on.
  const uintmax_t declinedAt = KeptBytes();
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return KeptBytes() > declinedAt; })) << run->Output();

  run->Type("\x03");
  ASSERT_TRUE(WaitWhileRunning(*run, [&] { return questions() == 2; })) << run->Output();
  run->Type("y\n");
  EXPECT_EQ(Finish(std::move(run)), 1) << output;
  EXPECT_NE(LaunchLog().find("stopped on request (Ctrl-C)"), std::string::npos) << LaunchLog();
  ExpectTheNextRunResumes(KeptBytes());
}

// A chain that stops on a failure answered by its event only (a page that no
// base serves): the terminal shows the failed step, the launch log's reason
// and how to close, and the end of input closes it.
TEST_F(StopRequestTest, APageNoBaseServesStopsTheChainSayingWhyAndHowToClose) {
  fs::remove(ServerBase(kName) / "InstallVersion" / "InstallPage_1.0" / "page0.zip");
  WriteBases({base_, base_, base_, base_});
  EXPECT_EQ(Run({}, ""), 1) << output;
  const size_t failed = output.rfind("ゲームのインストールに失敗しました.");
  // The reason is the launch log's last failure line: the page's download.
  const size_t reason = output.find("原因: FILE =Procedure\\ProcedureInstall");
  const size_t close = output.rfind("Enterキーを押すと閉じます。");
  ASSERT_NE(failed, std::string::npos) << output;
  ASSERT_NE(reason, std::string::npos) << output;
  EXPECT_LT(failed, reason) << output;
  EXPECT_LT(reason, close) << output;
  EXPECT_EQ(output.find("残り時間", failed), std::string::npos) << output;
}

}  // namespace
