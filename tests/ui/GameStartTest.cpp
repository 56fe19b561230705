#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/ui/WindowFixture.h"
#include "ui/GameStart.h"

namespace uitest {
namespace {

using GameStartTest = WindowTest;

constexpr const char* kStartFailedText = "ゲーム起動に失敗しました。しばらくしてからもう一度お試しください。";
constexpr const char* kRuntimeMissingText =
    "VC++が見つかなかったため、ゲームを正常に起動する事ができませんでした。Microsoft Visual "
    "C++のインストール後に再度起動する事を推奨致します。";

// A Wine machine hive with one uninstall entry.
std::string HiveWithEntry(const std::string& subkey, const std::string& displayName) {
  return "WINE REGISTRY Version 2\n"
         ";; All keys relative to \\\\Machine\n\n"
         "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" +
         subkey + "] 1700000000\n\"DisplayName\"=\"" + displayName + "\"\n";
}

TEST_F(GameStartTest, RuntimeCheckReadsTheWinePrefixForAWindowsClient) {
  const std::string runtime = "Microsoft Visual C++ 2013 Redistributable (x64) - 12.0.30501";
  // 511 UTF-16 units fit the 1024-byte read with its terminator; 512 do not.
  const std::string longest = runtime + std::string(511 - runtime.size(), 'x');
  const struct {
    const char* what;
    std::string hive;  // empty: no prefix
    bool installed;
  } cases[] = {
      {"no prefix", "", false},
      {"entry", HiveWithEntry("{050d4fc8-5d48-4b8f-8972-47c82c46020f}", runtime), true},
      {"name not in braces", HiveWithEntry("VC2013x64", runtime), false},
      {"x86 runtime", HiveWithEntry("{1}", "Microsoft Visual C++ 2013 Redistributable (x86) - 12.0"), false},
      {"511 units", HiveWithEntry("{2}", longest), true},
      {"512 units", HiveWithEntry("{3}", longest + "y"), false},
  };
  const std::filesystem::path hive = tree() / "wine" / "system.reg";
  WriteExecutable(tree() / "client" / "meadow_jp.exe", "MZ\x90");
  for (const auto& c : cases) {
    std::filesystem::remove(hive);
    if (!c.hive.empty()) testsupport::WriteFile(hive, c.hive);
    EXPECT_EQ(IsVcRedist2013x64Installed(), c.installed) << c.what;
  }
  // A native client needs no Windows runtime.
  std::filesystem::remove(hive);
  WriteRecordingClient();
  EXPECT_TRUE(IsVcRedist2013x64Installed());
}

TEST_F(GameStartTest, ClientGetsItsArgumentsAndWorkingFolder) {
  WriteRecordingClient();
  Open();
  dlg->OnCommand(IDC_START_BUTTON);
  EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kGameStarted);
  ASSERT_TRUE(WaitForClient());
  EXPECT_EQ(ClientArguments(), "-screen-width\n1280\n-screen-height\n720\n-screen-fullscreen\n0\n");
  EXPECT_EQ(std::filesystem::path(ClientFolder().substr(0, ClientFolder().size() - 1)),
            std::filesystem::canonical(tree() / "client"));
  EXPECT_NE(LaunchLog().find("]: start patch kelvo= ..\\client ,cmdline =..\\client\\meadow_jp.exe -screen-width "
                             "1280 -screen-height 720 -screen-fullscreen 0 \n"),
            std::string::npos);
  EXPECT_EQ(sink.named("LE_GameStartSuccess"), (std::vector<Event>{{"LE_GameStartSuccess", "", true}}));
  EXPECT_TRUE(frontEnd.questions().empty());
  EXPECT_EQ(ClientCommandLine().back(), ' ');
}

TEST_F(GameStartTest, MissingClientReportsTheErrorAndEndsAfterTheNotice) {
  for (const int runtimeAnswer : {2, 1}) {
    frontEnd.Answer(runtimeAnswer);
    frontEnd.Answer(1);
    std::filesystem::remove(launcherDir() / "Launch.log");
    std::filesystem::remove(launcherDir() / "ran.txt");
    // An installer that takes a moment: its run is waited for.
    WriteExecutable(launcherDir() / "vcredist.exe", "#!/bin/sh\nsleep 0.2\npwd > ran.txt\n");
    sink.clear();
    Open();
    const size_t asked = frontEnd.questions().size();
    dlg->OnCommand(IDC_START_BUTTON);
    EXPECT_EQ(std::filesystem::exists(launcherDir() / "ran.txt"), runtimeAnswer == 1);
    EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kStopped);

    std::vector<Question> questions = frontEnd.questions();
    questions.erase(questions.begin(), questions.begin() + static_cast<long>(asked));
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].text, kRuntimeMissingText);
    EXPECT_EQ(questions[0].caption, "メッセージ");
    EXPECT_EQ(questions[1].text, kStartFailedText);
    EXPECT_EQ(questions[1].statusShown, kStartFailedText);
    EXPECT_EQ(sink.named("LE_GameStartError"), (std::vector<Event>{{"LE_GameStartError", "2", true}}));
    // The code page 936 line "状态333", then the start all the same.
    const std::string log = LaunchLog();
    const size_t missing = log.find(
        "]: \xD7\xB4\xCC\xAC"
        "333\n");
    ASSERT_NE(missing, std::string::npos);
    EXPECT_NE(log.find("start patch kelvo=", missing), std::string::npos);
  }
}

TEST_F(GameStartTest, InstallerIsWaitedForAtMostTheGivenTime) {
  const std::filesystem::path fifo = launcherDir() / "gate";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  WriteExecutable(launcherDir() / "vcredist.exe", "#!/bin/sh\nread line < gate\npwd > finished.txt\n");
  RunVcRedist(std::chrono::milliseconds(100));
  EXPECT_FALSE(std::filesystem::exists(launcherDir() / "finished.txt"));
  // Let the installer end before the tree goes.
  std::ofstream(fifo) << "go\n";
  for (int i = 0; i < 1000 && !std::filesystem::exists(launcherDir() / "finished.txt"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(launcherDir() / "finished.txt"));
}

}  // namespace
}  // namespace uitest
