// End-to-end tests of the launcher program: the built "TovaLauncher.exe" runs
// in a temporary game tree against nginx serving trees written by the
// publisher tool, posting its events to a local analytics receiver.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/ProgramHarness.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr std::chrono::seconds kRunTimeout{240};
constexpr const char* kRepairQuestion = "ゲームデータを復元しますか?";

// The game's versions as published: a client that records how it was
// started, text files, a larger binary file that changes a little between
// versions, and files that come and go.
std::string GameFile(const std::string& name, const std::string& version) {
  if (name == "client/meadow_jp.exe") return "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\npwd > cwd.txt\n";
  if (name == "data/big.bin") {
    std::string bytes(300 * 1024, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<char>(state >> 24);
    }
    bytes.replace(1000, version.size(), version);
    bytes.replace(200000, version.size(), version);
    return bytes;
  }
  return name + " of version " + version + "\n";
}

std::vector<std::string> GameFileNames(const std::string& version) {
  std::vector<std::string> names = {"client/meadow_jp.exe", "data/a.txt", "data/big.bin"};
  if (version == "1.0" || version == "1.1") names.push_back("readme.txt");
  if (version != "1.0") names.push_back("data/new/added.txt");
  return names;
}

bool InOrder(const std::vector<std::string>& names, const std::vector<std::string>& expected) {
  auto at = names.begin();
  for (const std::string& name : expected) {
    at = std::find(at, names.end(), name);
    if (at == names.end()) return false;
    ++at;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + " ";
  return text;
}

class LauncherProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(receiver_.problem().empty()) << receiver_.problem();
    for (const char* folder : {"wine", "config", "tmp", "servers", "sources"}) fs::create_directories(root() / folder);
    fs::create_directories(launcherDir());
    InstallProgram(launcherDir() / "TovaLauncher.exe");
  }

  fs::path root() const { return temp_.path(); }
  fs::path gameDir() const { return root() / "game"; }
  fs::path launcherDir() const { return gameDir() / "launcher"; }
  static fs::path Program() { return e2e::BuiltProgram("app/TovaLauncher.exe"); }

  static void InstallProgram(const fs::path& at, const std::string& suffix = "") {
    WriteFile(at, ReadFile(Program()) + suffix);
    chmod(at.c_str(), 0755);
  }

  std::vector<std::string> Environment() const {
    return {"WINEPREFIX=" + (root() / "wine").string(), "XDG_CONFIG_HOME=" + (root() / "config").string(),
            "TMPDIR=" + (root() / "tmp").string()};
  }

  std::unique_ptr<e2e::ProgramRun> Start(const fs::path& program, const std::vector<std::string>& args,
                                         const std::string& input, const fs::path& folder) {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<e2e::ProgramRun>(argv, folder, input, Environment());
  }

  // Runs the installed launcher in its folder; the exit status, -1 when it
  // did not end in time. `output` keeps what it showed.
  int Run(const std::vector<std::string>& args = {}, const std::string& input = "") {
    return Finish(Start(launcherDir() / "TovaLauncher.exe", args, input, launcherDir()));
  }
  int Finish(std::unique_ptr<e2e::ProgramRun> run) {
    const std::optional<int> status = run->Wait(kRunTimeout);
    output = run->Output();
    return status.value_or(-1);
  }

  std::vector<std::string> EventNames() const {
    std::vector<std::string> names;
    for (const e2e::ReceivedEvent& event : receiver_.Events()) names.push_back(event.name);
    return names;
  }
  std::vector<std::string> EventTexts(const std::string& name) const {
    std::vector<std::string> texts;
    for (const e2e::ReceivedEvent& event : receiver_.Events()) {
      if (event.name == name) texts.push_back(event.text);
    }
    return texts;
  }

  // The game's version folders and the launcher's, as publisher sources.
  fs::path GameSource(const std::string& version) const {
    const fs::path folder = root() / "sources" / ("game-" + version);
    if (!fs::exists(folder)) {
      for (const std::string& name : GameFileNames(version)) WriteFile(folder / name, GameFile(name, version));
    }
    return folder;
  }
  fs::path LauncherSource(const std::string& tag, const std::string& programSuffix) const {
    const fs::path folder = root() / "sources" / ("launcher-" + tag);
    InstallProgram(folder / "TovaLauncher.exe", programSuffix);
    WriteFile(folder / "launcher.dat", "launcher data " + tag + "\n");
    return folder;
  }

  // Publishes a server tree below servers/<name>/KVMETRA and returns its base URL.
  std::string Publish(const std::string& name, const fs::path& launcherSource,
                      const std::vector<std::string>& gameVersions) {
    const fs::path base = root() / "servers" / name / "KVMETRA";
    std::vector<std::string> argv = {e2e::BuiltProgram("tools/tova-publish").string(),
                                     "publish",
                                     "--out",
                                     base.string(),
                                     "--lzma-threshold",
                                     "100K",
                                     "--lzma-chunk",
                                     "64K",
                                     "--launcher",
                                     "1.0.0=" + launcherSource.string()};
    for (const std::string& version : gameVersions) {
      argv.push_back("--game");
      argv.push_back(version + "=" + GameSource(version).string());
    }
    e2e::ProgramRun publisher(argv, root(), "", {});
    EXPECT_EQ(publisher.Wait(kRunTimeout), 0) << publisher.Output();
    if (!nginx_) nginx_ = std::make_unique<testsupport::NginxServer>(root() / "servers");
    return nginx_->url() + "/" + name + "/KVMETRA";
  }
  fs::path ServerBase(const std::string& name) const { return root() / "servers" / name / "KVMETRA"; }

  void WriteConfig(const std::string& base, const std::string& extra = "") {
    WriteFile(launcherDir() / "launcher.ini", "[launcher]\nlauncherUrl=" + base + "\n[game]\ngameUrl=" + base +
                                                  "\n[install]\ninstallUrl=" + base + "\n[update]\nupdateUrl=" +
                                                  base + "\n[repaire]\nrepaireUrl=" + base + "\n" + extra);
  }

  // The launcher folder as the server's launcher version has it.
  void InstallLauncherVersion(const std::string& server) {
    for (const fs::directory_entry& entry :
         fs::directory_iterator(ServerBase(server) / "LauncherVersion" / "Launcher_1.0.0")) {
      fs::copy_file(entry.path(), launcherDir() / entry.path().filename(), fs::copy_options::overwrite_existing);
    }
    chmod((launcherDir() / "TovaLauncher.exe").c_str(), 0755);
  }
  // The game folder as an installation of `version` leaves it.
  void InstallGameVersion(const std::string& server, const std::string& version) {
    for (const std::string& name : GameFileNames(version)) WriteFile(gameDir() / name, GameFile(name, version));
    fs::copy_file(ServerBase(server) / "GameVersion" / ("Game_" + version) / "GameInfo.ini", gameDir() / "GameInfo.ini",
                  fs::copy_options::overwrite_existing);
  }

  void ExpectGameFilesOf(const std::string& version) const {
    for (const std::string& name : GameFileNames(version)) {
      EXPECT_TRUE(ReadFile(gameDir() / name) == GameFile(name, version)) << name << " is not of " << version;
    }
    EXPECT_TRUE(fs::exists(gameDir() / "GameInfo.ini"));
  }

  // Waits for the client's records (it runs on after the launcher ended) and
  // checks how it was started.
  void ExpectClientStarted() const {
    const fs::path done = gameDir() / "client" / "cwd.txt";
    for (int i = 0; i < 1000 && (!fs::exists(done) || fs::file_size(done) == 0); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(done));
    EXPECT_EQ(ReadFile(gameDir() / "client" / "args.txt"),
              "-screen-width\n1280\n-screen-height\n720\n-screen-fullscreen\n0\n");
    EXPECT_EQ(ReadFile(done), fs::canonical(gameDir() / "client").string() + "\n");
  }

  // A run that needs no server: the self-update skipped by the debug switch,
  // a game list present, and "-repaire" answered no.
  void PrepareRepairQuestion(const fs::path& folder) {
    WriteFile(folder / "launcher.ini", "[debug]\ndebug=1\n");
    WriteFile(folder.parent_path() / "GameInfo.ini", "");
  }

  std::string output;

 private:
  e2e::AnalyticsReceiver receiver_;  // first: the lock is held for the whole test
  testsupport::TempDir temp_;
  std::unique_ptr<testsupport::NginxServer> nginx_;
};

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
  // nothing to copy and ends after its retries, silently.
  const fs::path elsewhere = root() / "elsewhere";
  fs::create_directories(elsewhere);
  EXPECT_EQ(Finish(Start(launcherDir() / "TovaLauncher.exe", {}, "", elsewhere)), 1);
  EXPECT_EQ(output.find("メッセージ"), std::string::npos);
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
  // Nothing after the start line, which went into the backup with the rotation.
  const std::string backup = ReadFile(launcherDir() / "Launch.log.bak");
  EXPECT_EQ(std::count(backup.begin(), backup.end(), '\n'), 1) << backup;
  EXPECT_FALSE(fs::exists(launcherDir() / "Launch.log"));
  EXPECT_TRUE(fs::is_directory(launcherDir() / "TovaLaunch.bin"));
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
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfStart", "LE_UpdateSelfVersion", "LE_UpdateSelfNoNeed",
                              "LE_GameCheckUpdate", "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_UpdateSelfVersion"), std::vector<std::string>{"1.0.0"});
  EXPECT_EQ(EventTexts("LE_GameStartSuccess"), std::vector<std::string>{""});
  EXPECT_EQ(EventTexts("LE_LauncherStart"), std::vector<std::string>{""});
  EXPECT_TRUE(EventTexts("LE_StartGamePatch").empty());
  EXPECT_NE(output.find("アップデート完了しました。"), std::string::npos) << output;
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
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfStart", "LE_UpdateSelfSuccess", "LE_UpdateSelfStart",
                              "LE_UpdateSelfNoNeed", "LE_GamePatchNoNeed"}))
      << Joined(names);
  EXPECT_EQ(EventTexts("LE_LauncherStart").size(), 2u);  // one per running copy
  EXPECT_EQ(EventTexts("LE_GameStartSuccess").size(), 1u);
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
  EXPECT_TRUE(InOrder(names, {"LE_UpdateSelfNoNeed", "LE_GameRepaireVersion", "LE_GameCheckUpdate",
                              "LE_GamePatchNoNeed"}))
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
  ASSERT_EQ(testsupport::RunShell("cd '" + pages.string() +
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
  EXPECT_TRUE(InOrder(names, {"LE_InstallWithMode", "LE_InstallByCPFail", "LE_RPInstallVersion",
                              "LE_GameCheckUpdate", "LE_GamePatchNoNeed"}))
      << Joined(names);
  const std::vector<std::string> failures = EventTexts("LE_InstallByCPFail");
  EXPECT_NE(std::find(failures.begin(), failures.end(), "unzip pageinner"), failures.end());
  EXPECT_EQ(EventTexts("LE_StartRPInstall").size(), 1u);
  EXPECT_EQ(EventTexts("LE_RPInstallSuccess").size(), 1u);
}

}  // namespace
