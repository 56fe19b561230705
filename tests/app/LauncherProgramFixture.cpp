#include "tests/app/LauncherProgramFixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace e2e {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

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

void LauncherProgramTest::SetUp() {
  ASSERT_TRUE(receiver_.problem().empty()) << receiver_.problem();
  clientLock_.MakeExclusive();
  for (const char* folder : {"wine", "config", "tmp", "servers", "sources"}) fs::create_directories(root() / folder);
  fs::create_directories(launcherDir());
  InstallProgram(launcherDir() / "TovaLauncher.exe");
}

fs::path LauncherProgramTest::Program() const { return BuiltProgram("app/TovaLauncher.exe"); }

// The game's versions as published: a client that records how it was
// started, text files, a larger binary file that changes a little between
// versions, and files that come and go.
std::string LauncherProgramTest::GameFile(const std::string& name, const std::string& version) const {
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

std::vector<std::string> LauncherProgramTest::GameFileNames(const std::string& version) const {
  std::vector<std::string> names = {"client/meadow_jp.exe", "data/a.txt", "data/big.bin"};
  if (version == "1.0" || version == "1.1") names.push_back("readme.txt");
  if (version != "1.0") names.push_back("data/new/added.txt");
  return names;
}

void LauncherProgramTest::InstallProgram(const fs::path& at, const std::string& suffix) const {
  WriteFile(at, ReadFile(Program()) + suffix);
  chmod(at.c_str(), 0755);
}

std::vector<std::string> LauncherProgramTest::Environment() const {
  return {"WINEPREFIX=" + (root() / "wine").string(), "XDG_CONFIG_HOME=" + (root() / "config").string(),
          "TMPDIR=" + (root() / "tmp").string(), "DISPLAY=", "WAYLAND_DISPLAY="};
}

std::unique_ptr<ProgramRun> LauncherProgramTest::Start(const fs::path& program, const std::vector<std::string>& args,
                                                       const std::string& input, const fs::path& folder) const {
  std::vector<std::string> argv = {program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<ProgramRun>(argv, folder, input, Environment());
}

std::unique_ptr<ProgramRun> LauncherProgramTest::StartTraced(const std::vector<std::string>& options,
                                                             const std::string& input) const {
  std::vector<std::string> argv = {kStrace, "-f", "-qq"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back((launcherDir() / "TovaLauncher.exe").string());
  std::vector<std::string> environment = Environment();
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  environment.push_back("ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0");
  return std::make_unique<ProgramRun>(argv, launcherDir(), input, environment);
}

int LauncherProgramTest::Run(const std::vector<std::string>& args, const std::string& input) {
  return Finish(Start(launcherDir() / "TovaLauncher.exe", args, input, launcherDir()));
}

int LauncherProgramTest::Finish(std::unique_ptr<ProgramRun> run) {
  const std::optional<int> status = run->Wait(kRunTimeout);
  output = run->Output();
  return status.value_or(-1);
}

std::vector<std::string> LauncherProgramTest::EventNames() const {
  std::vector<std::string> names;
  for (const ReceivedEvent& event : receiver_.Events()) names.push_back(event.name);
  return names;
}

std::vector<std::string> LauncherProgramTest::EventTexts(const std::string& name) const {
  std::vector<std::string> texts;
  for (const ReceivedEvent& event : receiver_.Events()) {
    if (event.name == name) texts.push_back(event.text);
  }
  return texts;
}

fs::path LauncherProgramTest::GameSource(const std::string& version) const {
  const fs::path folder = root() / "sources" / ("game-" + version);
  if (!fs::exists(folder)) {
    for (const std::string& name : GameFileNames(version)) WriteFile(folder / name, GameFile(name, version));
  }
  return folder;
}

fs::path LauncherProgramTest::LauncherSource(const std::string& tag, const std::string& programSuffix) const {
  const fs::path folder = root() / "sources" / ("launcher-" + tag);
  InstallProgram(folder / "TovaLauncher.exe", programSuffix);
  WriteFile(folder / "launcher.dat", "launcher data " + tag + "\n");
  return folder;
}

std::string LauncherProgramTest::Publish(const std::string& name, const fs::path& launcherSource,
                                         const std::vector<std::string>& gameVersions,
                                         const std::vector<std::string>& options) {
  const fs::path base = ServerBase(name);
  std::vector<std::string> argv = {BuiltProgram("tools/tova-publish").string(),
                                   "publish",
                                   "--out",
                                   base.string(),
                                   "--lzma-threshold",
                                   "100K",
                                   "--lzma-chunk",
                                   "64K",
                                   "--launcher",
                                   "1.0.0=" + launcherSource.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  for (const std::string& version : gameVersions) {
    argv.push_back("--game");
    argv.push_back(version + "=" + GameSource(version).string());
  }
  ProgramRun publisher(argv, root(), "", {});
  EXPECT_EQ(publisher.Wait(kRunTimeout), 0) << publisher.Output();
  if (!nginx_) nginx_ = std::make_unique<testsupport::NginxServer>(root() / "servers");
  return nginx_->url() + "/" + name + "/KVMETRA";
}

fs::path LauncherProgramTest::ServerBase(const std::string& name) const {
  return root() / "servers" / name / "KVMETRA";
}

void LauncherProgramTest::WriteConfig(const std::string& base, const std::string& extra) {
  WriteFile(launcherDir() / "launcher.ini", "[launcher]\nlauncherUrl=" + base + "\n[game]\ngameUrl=" + base +
                                                "\n[install]\ninstallUrl=" + base + "\n[update]\nupdateUrl=" + base +
                                                "\n[repaire]\nrepaireUrl=" + base + "\n" + extra);
}

void LauncherProgramTest::InstallLauncherVersion(const std::string& server) {
  for (const fs::directory_entry& entry :
       fs::directory_iterator(ServerBase(server) / "LauncherVersion" / "Launcher_1.0.0")) {
    // The list's signature file of a signed tree stays on the server.
    if (entry.path().extension() == ".sig") continue;
    fs::copy_file(entry.path(), launcherDir() / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
  chmod((launcherDir() / "TovaLauncher.exe").c_str(), 0755);
}

void LauncherProgramTest::InstallGameVersion(const std::string& server, const std::string& version) {
  for (const std::string& name : GameFileNames(version)) WriteFile(gameDir() / name, GameFile(name, version));
  fs::copy_file(ServerBase(server) / "GameVersion" / ("Game_" + version) / "GameInfo.ini", gameDir() / "GameInfo.ini",
                fs::copy_options::overwrite_existing);
}

void LauncherProgramTest::ExpectGameFilesOf(const std::string& version) const {
  for (const std::string& name : GameFileNames(version)) {
    EXPECT_TRUE(ReadFile(gameDir() / name) == GameFile(name, version)) << name << " is not of " << version;
  }
  EXPECT_TRUE(fs::exists(gameDir() / "GameInfo.ini"));
}

void LauncherProgramTest::ExpectClientStarted() const {
  const fs::path done = gameDir() / "client" / "cwd.txt";
  for (int i = 0; i < 1000 && (!fs::exists(done) || fs::file_size(done) == 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(done));
  EXPECT_EQ(ReadFile(gameDir() / "client" / "args.txt"),
            "-screen-width\n1280\n-screen-height\n720\n-screen-fullscreen\n0\n");
  EXPECT_EQ(ReadFile(done), fs::canonical(gameDir() / "client").string() + "\n");
}

void LauncherProgramTest::PrepareRepairQuestion(const fs::path& folder) const {
  WriteFile(folder / "launcher.ini", "[debug]\ndebug=1\n");
  WriteFile(folder.parent_path() / "GameInfo.ini", "");
}

}  // namespace e2e
