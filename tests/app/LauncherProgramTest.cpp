// End-to-end tests of the launcher program: the built "TovaLauncher.exe" runs
// in a temporary game tree against nginx serving trees written by the
// publisher tool, posting its events to a local analytics receiver.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/LauncherProgramFixture.h"
#include "tests/support/ScopedMount.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kRepairQuestion = "ゲームデータを復元しますか?";

using e2e::InOrder;
using e2e::Joined;
using e2e::LauncherProgramTest;

TEST_F(LauncherProgramTest, StartUpRolesByNameAndSwitches) {
  const struct {
    const char* what;
    const char* program;
    std::vector<std::string> args;
    bool rotates;
    bool copies;
  } cases[] = {
      {"installed launcher", "TovaLauncher.exe", {"-repaire"}, true, true},
      {"installed launcher in capitals", "TOVALAUNCHER.EXE", {"-repaire"}, true, true},
      {"running copy", "TovaLauncher.exe", {"-runbin", "-repaire"}, false, false},
      {"other name without -runbin", "other.bin", {"-repaire"}, true, false},
  };
  PrepareRepairQuestion(launcherDir());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"Launch.log", "Launch.log.bak", "TovaLaunch.bin"}) fs::remove(launcherDir() / name);
    // A read-only old copy: replaced when the launcher copies itself.
    WriteFile(launcherDir() / "TovaLaunch.bin", "old copy");
    chmod((launcherDir() / "TovaLaunch.bin").c_str(), 0444);
    WriteFile(launcherDir() / "Launch.log", "previous run\n");
    InstallProgram(launcherDir() / c.program);

    EXPECT_EQ(Finish(Start(launcherDir() / c.program, c.args, "n\n", launcherDir())), 1);
    EXPECT_NE(output.find(kRepairQuestion), std::string::npos) << output;
    const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
    const std::string log = ReadFile(launcherDir() / "Launch.log");
    if (c.rotates) {
      EXPECT_EQ(backup.find("previous run\n"), 0u);
      EXPECT_NE(backup.find("QoLauncher start! version: 1.0.0, runbin: 0 -"), std::string::npos);
      EXPECT_EQ(log.find("previous run"), std::string::npos);
    } else {
      EXPECT_FALSE(fs::exists(launcherDir() / "Launch.log.bak"));
      EXPECT_EQ(log.find("previous run\n"), 0u);
    }
    EXPECT_EQ(log.find("runbin: 1 -") != std::string::npos, c.copies || !c.rotates);
    EXPECT_EQ(ReadFile(launcherDir() / "TovaLaunch.bin") == ReadFile(Program()), c.copies);
    if (c.program != std::string("TovaLauncher.exe")) fs::remove(launcherDir() / c.program);
  }
}

TEST_F(LauncherProgramTest, RepaireSwitchAnywhereInTheCommandLine) {
  // The folder's name holds the switch; the program is started by its full path.
  const fs::path folder = gameDir() / "tools-repaire";
  InstallProgram(folder / "TovaLauncher.exe");
  PrepareRepairQuestion(folder);
  EXPECT_EQ(Finish(Start(folder / "TovaLauncher.exe", {}, "n\n", folder)), 1);
  EXPECT_NE(output.find(kRepairQuestion), std::string::npos) << output;
}

TEST_F(LauncherProgramTest, FirstStageWorksInTheCurrentFolder) {
  // Started from another folder, it looks for "TovaLauncher.exe" there, finds
  // nothing to copy and ends after its retries, without a window, saying why
  // in one line.
  const fs::path elsewhere = root() / "elsewhere";
  fs::create_directories(elsewhere);
  EXPECT_EQ(Finish(Start(launcherDir() / "TovaLauncher.exe", {}, "", elsewhere)), 1);
  EXPECT_EQ(output.find("メッセージ"), std::string::npos);
  EXPECT_EQ(output, "TovaLauncher.exe: " + fs::canonical(elsewhere).string() +
                        " holds no TovaLauncher.exe: start the launcher in its own folder, next to launcher.ini\n");
  EXPECT_NE(ReadFile(elsewhere / "Launch.log.bak").find("runbin: 0"), std::string::npos);
  EXPECT_FALSE(fs::exists(elsewhere / "Launch.log"));
  EXPECT_FALSE(fs::exists(elsewhere / "TovaLaunch.bin"));
  EXPECT_FALSE(fs::exists(launcherDir() / "Launch.log"));
}

TEST_F(LauncherProgramTest, CopyRetriesWhileTheOldCopyIsHeld) {
  PrepareRepairQuestion(launcherDir());
  // A name that cannot be deleted as a file holds "TovaLaunch.bin".
  const fs::path held = launcherDir() / "TovaLaunch.bin";
  WriteFile(held / "busy", "");
  std::unique_ptr<e2e::ProgramRun> run = Start(launcherDir() / "TovaLauncher.exe", {"-repaire"}, "n\n", launcherDir());
  // The start line is written and the log rotated before the first attempt.
  for (int i = 0; i < 1000 && ReadFile(launcherDir() / "Launch.log.bak").find("runbin: 0") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  fs::remove_all(held);
  EXPECT_EQ(Finish(std::move(run)), 1);
  EXPECT_NE(output.find(kRepairQuestion), std::string::npos) << output;
  EXPECT_TRUE(ReadFile(held) == ReadFile(Program()));
}

TEST_F(LauncherProgramTest, CopyHeldForGoodEndsSilently) {
  PrepareRepairQuestion(launcherDir());
  WriteFile(launcherDir() / "TovaLaunch.bin" / "busy", "");
  EXPECT_EQ(Run({"-repaire"}, "n\n"), 1);
  EXPECT_EQ(output.find("メッセージ"), std::string::npos) << output;
  EXPECT_NE(output.find("cannot write TovaLaunch.bin in " + fs::canonical(launcherDir()).string() +
                        " (Is a directory): the launcher's own folder must be writable"),
            std::string::npos)
      << output;
  // Nothing after the start line, which went into the backup with the rotation.
  const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
  EXPECT_EQ(std::count(backup.begin(), backup.end(), '\n'), 1) << backup;
  EXPECT_FALSE(fs::exists(launcherDir() / "Launch.log"));
  EXPECT_TRUE(fs::is_directory(launcherDir() / "TovaLaunch.bin"));
}

// A launcher folder on a read-only file system: the first stage cannot make
// its copy and says so in one line.
TEST_F(LauncherProgramTest, AReadOnlyLauncherFolderIsNamed) {
  const fs::path folder = root() / "readonly";
  // Room for the program (with its debugging information) and a little more.
  testsupport::ScopedMount mount(folder, fs::file_size(Program()) + 4 * 1024 * 1024);
  if (!mount.ok()) GTEST_SKIP() << mount.problem() << " (the test needs to mount file systems)";
  InstallProgram(folder / "TovaLauncher.exe");
  ASSERT_EQ(fs::file_size(folder / "TovaLauncher.exe"), fs::file_size(Program()));
  ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  EXPECT_EQ(Finish(Start(folder / "TovaLauncher.exe", {}, "", folder)), 1);
  EXPECT_NE(output.find("TovaLauncher.exe: cannot write TovaLaunch.bin in " + folder.string() +
                        " (Read-only file system): the launcher's own folder must be writable"),
            std::string::npos)
      << output;
}

TEST_F(LauncherProgramTest, AlreadyUpToDateStartsTheClient) {
  const std::string base = Publish("current", LauncherSource("1", ""), {"1.0", "1.1"});
  InstallLauncherVersion("current");
  InstallGameVersion("current", "1.1");
  WriteConfig(base);
  EXPECT_EQ(Run(), 0) << output;
  ExpectClientStarted();
  ExpectGameFilesOf("1.1");
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfStart", "LE_UpdateSelfVersion", "LE_UpdateSelfNoNeed", "LE_GameCheckUpdate",
                              "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_UpdateSelfVersion"), std::vector<std::string>{"1.0.0"});
  EXPECT_EQ(EventTexts("LE_GameStartSuccess"), std::vector<std::string>{""});
  EXPECT_EQ(EventTexts("LE_LauncherStart"), std::vector<std::string>{""});
  EXPECT_TRUE(EventTexts("LE_StartGamePatch").empty());
  EXPECT_NE(output.find("アップデート完了しました。"), std::string::npos) << output;
}

// A log service that takes the events and never answers costs the run one
// time-out of a few seconds, not one per event: the later events are
// dropped, and the log says so.
TEST_F(LauncherProgramTest, ASilentLogServiceCostsTheRunOneTimeOut) {
  const std::string base = Publish("current", LauncherSource("1", ""), {"1.0", "1.1"});
  InstallLauncherVersion("current");
  InstallGameVersion("current", "1.1");
  WriteConfig(base);
  SetAnalyticsSilent(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(), 0) << output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  ExpectClientStarted();
  ExpectGameFilesOf("1.1");
  const std::string log = ReadFile(launcherDir() / "Launch.log");
  EXPECT_NE(log.find("event LE_GamePatchNoNeed dropped: the log service does not answer"), std::string::npos) << log;
}

TEST_F(LauncherProgramTest, FreshInstallThenPatchesThenTheClient) {
  const std::string base = Publish("chain", LauncherSource("1", ""), {"1.0", "1.1", "1.2"});
  // The installation pages offered are those of the oldest version, so the
  // patches follow the install.
  WriteFile(ServerBase("chain") / "InstallVersion" / "version", "1.0");
  InstallLauncherVersion("chain");
  WriteConfig(base);
  EXPECT_EQ(Run(), 0) << output;
  ExpectGameFilesOf("1.2");
  EXPECT_FALSE(fs::exists(gameDir() / "readme.txt"));
  ExpectClientStarted();
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfNoNeed", "LE_InstallWithMode", "LE_InstallSuccess", "LE_GameCheckUpdate",
                              "LE_StartGamePatch", "LE_StartGamePatch", "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_InstallWithMode"), std::vector<std::string>{"compression"});
  EXPECT_EQ(EventTexts("LE_StartCPInstall").size(), 1u);
  EXPECT_FALSE(EventTexts("LE_CPDownPage").empty());
  EXPECT_EQ(EventTexts("LE_CPDownPage").back(), "100.00");
  EXPECT_EQ(EventTexts("LE_GameStartSuccess").size(), 1u);
  EXPECT_NE(output.find("ゲームインストールファイルをダウンロードしています......"), std::string::npos) << output;
  EXPECT_NE(output.find("アップデートをダウンロード中..."), std::string::npos);
}

TEST_F(LauncherProgramTest, SelfUpdateRelaunchesAndGoesOn) {
  // The server's launcher is a newer build of the program (bytes appended)
  // with a data file the installed launcher lacks.
  const std::string base = Publish("selfupdate", LauncherSource("2", "\nnewer build\n"), {"1.0"});
  InstallGameVersion("selfupdate", "1.0");
  WriteConfig(base);
  EXPECT_EQ(Run(), 0) << output;
  const fs::path served = ServerBase("selfupdate") / "LauncherVersion" / "Launcher_1.0.0";
  EXPECT_TRUE(ReadFile(launcherDir() / "TovaLauncher.exe") == ReadFile(served / "TovaLauncher.exe"));
  EXPECT_TRUE(ReadFile(launcherDir() / "TovaLaunch.bin") == ReadFile(served / "TovaLauncher.exe"));
  EXPECT_EQ(ReadFile(launcherDir() / "launcher.dat"), "launcher data 2\n");
  ExpectClientStarted();
  // The previous cycle's log went into the backup when the new launcher started.
  const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
  EXPECT_NE(backup.find("NM_LAUNCHER_SELF_PATCH_DONE"), std::string::npos);
  EXPECT_NE(backup.find("runbin: 0", backup.find("NM_LAUNCHER_SELF_PATCH_DONE")), std::string::npos);
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfStart", "LE_UpdateSelfSuccess", "LE_UpdateSelfStart", "LE_UpdateSelfNoNeed",
                              "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_LauncherStart").size(), 2u);  // one per running copy
  EXPECT_EQ(EventTexts("LE_GameStartSuccess").size(), 1u);
}

// A running copy started by hand (no "-runbin", another name) still
// relaunches the installed launcher after a self-update, which then runs the
// usual cycle; the exit status stays 0 or 1.
TEST_F(LauncherProgramTest, StartedUnderAnotherNameTheSelfUpdateStillRelaunches) {
  const std::string base = Publish("selfupdate", LauncherSource("2", "\nnewer build\n"), {"1.0"});
  InstallGameVersion("selfupdate", "1.0");
  WriteConfig(base);
  InstallProgram(launcherDir() / "TovaLaunch.bin");
  EXPECT_EQ(Finish(Start(launcherDir() / "TovaLaunch.bin", {}, "", launcherDir())), 0) << output;
  const fs::path served = ServerBase("selfupdate") / "LauncherVersion" / "Launcher_1.0.0";
  EXPECT_TRUE(ReadFile(launcherDir() / "TovaLaunch.bin") == ReadFile(served / "TovaLauncher.exe"));
  ExpectClientStarted();
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfSuccess", "LE_UpdateSelfNoNeed", "LE_GamePatchNoNeed"})) << Joined(names);
  const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
  EXPECT_NE(backup.find("runbin: 0", backup.find("NM_LAUNCHER_SELF_PATCH_DONE")), std::string::npos) << backup;
}

// Started as "./TovaLauncher.exe" in a folder whose name holds both switches,
// neither the copy nor the relaunched launcher takes them from the path: no
// repair question, and the relaunched launcher makes its copy again.
TEST_F(LauncherProgramTest, FolderNamesAreNotSwitches) {
  const fs::path folder = gameDir() / "kv-repaire-runbin";
  const std::string base = Publish("selfupdate", LauncherSource("2", "\nnewer build\n"), {"1.0"});
  InstallGameVersion("selfupdate", "1.0");
  WriteConfig(base);
  InstallProgram(folder / "TovaLauncher.exe");
  fs::copy_file(launcherDir() / "launcher.ini", folder / "launcher.ini");
  EXPECT_EQ(Finish(Start("./TovaLauncher.exe", {}, "n\n", folder)), 0) << output;
  EXPECT_EQ(output.find(kRepairQuestion), std::string::npos) << output;
  ExpectClientStarted();
  const std::string backup = ReadFile(folder / "Launch.log.bak");
  EXPECT_NE(backup.find("runbin: 0", backup.find("NM_LAUNCHER_SELF_PATCH_DONE")), std::string::npos) << backup;
  const std::string log = ReadFile(folder / "Launch.log");
  EXPECT_EQ(log.find("runbin: 0"), std::string::npos) << log;
}

TEST_F(LauncherProgramTest, RepaireAnsweredNoEndsAndYesRepairs) {
  const std::string base = Publish("repair", LauncherSource("1", ""), {"1.0", "1.1"});
  InstallLauncherVersion("repair");
  InstallGameVersion("repair", "1.1");
  WriteConfig(base);
  WriteFile(gameDir() / "data" / "a.txt", "damaged\n");

  EXPECT_EQ(Run({"-repaire"}, "n\n"), 1) << output;
  EXPECT_NE(output.find(kRepairQuestion), std::string::npos);
  EXPECT_EQ(ReadFile(gameDir() / "data" / "a.txt"), "damaged\n");
  EXPECT_FALSE(fs::exists(gameDir() / "client" / "args.txt"));

  EXPECT_EQ(Run({"-repaire"}, "y\n"), 0) << output;
  ExpectGameFilesOf("1.1");
  ExpectClientStarted();
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(
      InOrder(names, {"LE_UpdateSelfNoNeed", "LE_GameRepaireVersion", "LE_GameCheckUpdate", "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_StartRepire").size(), 1u);
  EXPECT_EQ(EventTexts("LE_GameRepaireSuccess").size(), 1u);
  EXPECT_FALSE(EventTexts("LE_GameRepaireDown").empty());
  EXPECT_NE(output.find("ゲームデータ復元中...."), std::string::npos) << output;
}

TEST_F(LauncherProgramTest, PageUnzipFailureAnsweredYesInstallsThroughRepair) {
  const std::string base = Publish("badpage", LauncherSource("1", ""), {"1.0"});
  InstallLauncherVersion("badpage");
  WriteConfig(base);
  // The first page is damaged past its local headers, and its description
  // entry follows it: it downloads and verifies, but cannot be unpacked.
  const fs::path pages = ServerBase("badpage") / "InstallVersion" / "InstallPage_1.0";
  const fs::path page = pages / "page0.zip";
  ASSERT_TRUE(fs::exists(page));
  std::string bytes = ReadFile(page);
  bytes.resize(bytes.size() - 30);
  WriteFile(page, bytes);
  ASSERT_EQ(
      testsupport::RunShell("cd '" + pages.string() +
                            "' && md5=$(md5sum page0.zip | cut -c1-32 | tr a-f A-F) && size=$(stat -c %s "
                            "page0.zip) && sed -i -E \"s/^(Package0 *= *page0.zip,[^,]*,)[^,]*,[^,]*/\\1$size,$md5/\" "
                            "intallinfo_1.0.ini"),
      0);

  EXPECT_EQ(Run({}, "y\n"), 0) << output;
  ExpectGameFilesOf("1.0");
  ExpectClientStarted();
  EXPECT_NE(output.find("ゲームのインストールに失敗しました。他の方法でインストールしますか？"), std::string::npos)
      << output;
  const std::vector<std::string> names = EventNames();
  EXPECT_TRUE(InOrder(names, {"LE_InstallWithMode", "LE_InstallByCPFail", "LE_RPInstallVersion", "LE_GameCheckUpdate",
                              "LE_GamePatchNoNeed"}))
      << Joined(names);
  const std::vector<std::string> failures = EventTexts("LE_InstallByCPFail");
  EXPECT_NE(std::find(failures.begin(), failures.end(), "unzip pageinner"), failures.end());
  EXPECT_EQ(EventTexts("LE_StartRPInstall").size(), 1u);
  EXPECT_EQ(EventTexts("LE_RPInstallSuccess").size(), 1u);
}

}  // namespace
