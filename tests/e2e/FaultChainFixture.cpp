#include "tests/e2e/FaultChainFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>

#include "tests/support/TempDir.h"

namespace e2e {
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr std::chrono::milliseconds kPoll{10};
constexpr std::chrono::seconds kServerStart{10};
constexpr std::chrono::seconds kProcessesEnd{30};
constexpr const char* kClientRecords[] = {"client/args.txt", "client/cwd.txt"};

bool CanConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// The port of the test build's primary root.
int PrimaryPort() {
  std::smatch match;
  static const std::string root = LAUNCHER_E2E_PRIMARY_ROOT;
  static const std::regex url(R"re(^http://127\.0\.0\.1:(\d+)$)re");
  return std::regex_match(root, match, url) ? std::stoi(match[1]) : 0;
}

// `length` pseudo-random bytes, the same for the same seed, with the version
// text written at a few places, so that two versions differ in a few bytes.
std::string StampedBytes(size_t length, uint32_t seed, const std::string& version) {
  std::string bytes(length, '\0');
  uint32_t state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  for (size_t at = 1000; at + version.size() < length; at += 199999) bytes.replace(at, version.size(), version);
  return bytes;
}

// The regular files below `folder`, by their path relative to it ("/"), except
// what `skip` names (a file, or a folder with everything in it).
std::set<std::string> FilesBelow(const fs::path& folder, const std::set<std::string>& skip = {}) {
  std::set<std::string> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), folder).generic_string();
    if (skip.count(relative) != 0) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files.insert(relative);
  }
  return files;
}

// The ids of live processes whose current folder is `folder` or below it.
std::vector<pid_t> ProcessesWorkingIn(const fs::path& folder) {
  std::vector<pid_t> found;
  const std::string prefix = folder.string() + "/";
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    const std::string cwd = fs::read_symlink(entry.path() / "cwd", ignored).string() + "/";
    if (ignored || cwd.rfind(prefix, 0) != 0) continue;
    const std::string stat = ReadFile(entry.path() / "stat");
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size() || stat[nameEnd + 2] == 'Z') continue;
    found.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return found;
}

}  // namespace

FixedPortServer::FixedPortServer(const fs::path& root, int port, const fs::path& logs) {
  if (CanConnect(port)) {
    problem_ = "something else listens on port " + std::to_string(port);
    return;
  }
  fs::create_directories(logs);
  const std::string script = std::string(TEST_SUPPORT_DIR) + "/fault_server.py";
  const std::string portText = std::to_string(port);
  const std::string rootText = fs::absolute(root).string();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    execlp("python3", "python3", script.c_str(), "--port", portText.c_str(), "--root", rootText.c_str(), "--log-dir",
           logs.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + kServerStart;
  while (!CanConnect(port)) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
      problem_ = "the server on port " + portText + " did not start";
      return;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

FixedPortServer::~FixedPortServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

FakeClient::FakeClient(const fs::path& folder) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    execlp("sleep", "meadow_jp.exe", "600", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Running once its first argument shows.
  const fs::path cmdline = "/proc/" + std::to_string(pid_) + "/cmdline";
  for (int i = 0; i < 1000 && ReadFile(cmdline).rfind("meadow_jp.exe", 0) != 0; ++i) std::this_thread::sleep_for(kPoll);
}

FakeClient::~FakeClient() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool FakeClient::Running() {
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
  return pid_ > 0;
}

void RewritePackageEntry(const fs::path& folder, const std::string& zip, const std::string& description) {
  ASSERT_EQ(testsupport::RunShell("cd '" + folder.string() + "' && md5=$(md5sum '" + zip +
                                  "' | cut -c1-32 | tr a-f A-F) && size=$(stat -c %s '" + zip +
                                  "') && sed -i -E \"s/^(Package[0-9]+ *= *" + zip +
                                  ",[^,]*,)[^,]*,[^,]*/\\1$size,"
                                  "$md5/\" '" +
                                  description + "'"),
            0);
}

void FaultChainTest::SetUp() {
  LauncherProgramTest::SetUp();
  if (HasFatalFailure()) return;
  const int port = PrimaryPort();
  ASSERT_NE(port, 0) << "the test primary root is not on 127.0.0.1: " << LAUNCHER_E2E_PRIMARY_ROOT;
  // The lock of the program tests is held, so nothing of ours listens there.
  ASSERT_FALSE(CanConnect(port)) << "something else listens on the test primary port " << port;
}

fs::path FaultChainTest::Program() const { return BuiltProgram("tests/e2e/program/TovaLauncher.exe"); }

std::vector<std::string> FaultChainTest::GameFileNames(const std::string& version) const {
  std::vector<std::string> names = {"client/meadow_jp.exe", "data/a.txt", "data/big.bin"};
  for (int i = 0; i < levelCount_; ++i) names.push_back("data/level" + std::to_string(i) + ".bin");
  if (version == "1.0" || version == "1.1") names.push_back("readme.txt");
  if (version != "1.0") {
    names.push_back("data/new/added.txt");
    names.push_back("data/movie.bin");
  }
  return names;
}

std::string FaultChainTest::GameFile(const std::string& name, const std::string& version) const {
  if (name == "client/meadow_jp.exe") {
    return "#!/bin/sh\n# meadow client " + version + "\nprintf '%s\\n' \"$@\" > args.txt\npwd > cwd.txt\n";
  }
  if (name == "data/big.bin") return StampedBytes(300 * 1024, 12345, version);
  if (name.rfind("data/level", 0) == 0) {
    return StampedBytes(levelBytes_, 100 + static_cast<uint32_t>(std::stoi(name.substr(10))), version);
  }
  if (name == "data/movie.bin") {
    std::string text;
    for (int frame = 0; text.size() < 512 * 1024; ++frame) {
      text += "frame " + std::to_string(frame) + " of the movie of version " + version + "\n";
    }
    return text.substr(0, 512 * 1024);
  }
  return name + " of version " + version + "\n";
}

std::string FaultChainTest::PublishPristine(const std::vector<std::string>& options) {
  const std::string base = Publish("pristine", LauncherSource("1", ""), kVersions, options);
  WriteFile(ServerBase("pristine") / "InstallVersion" / "version", kVersions.front() + "\r\n");
  nginxUrl_ = base.substr(0, base.size() - std::string("/pristine/KVMETRA").size());
  return base;
}

std::string FaultChainTest::CopyOfPristine(const std::string& name) {
  fs::create_directories(ServerBase(name));
  fs::copy(ServerBase("pristine"), ServerBase(name), fs::copy_options::recursive);
  return nginxUrl_ + "/" + name + "/KVMETRA";
}

void FaultChainTest::PartialMirror(const std::string& from, const std::string& mirror,
                                   const std::vector<std::string>& suffixes) {
  for (const std::string& relative : FilesBelow(ServerBase(from))) {
    for (const std::string& suffix : suffixes) {
      if (relative.size() < suffix.size() ||
          relative.compare(relative.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      fs::create_directories((ServerBase(mirror) / relative).parent_path());
      fs::copy_file(ServerBase(from) / relative, ServerBase(mirror) / relative);
      break;
    }
  }
}

std::string FaultChainTest::FaultBase(const std::string& prefix, const std::string& name) {
  if (!fault_) fault_ = std::make_unique<testsupport::FaultServer>(root() / "servers");
  return fault_->url() + "/" + prefix + "/" + name + "/KVMETRA";
}

std::string FaultChainTest::ClosedBase() {
  return "http://127.0.0.1:" + std::to_string(testsupport::FreeLocalPort()) + "/KVMETRA";
}

void FaultChainTest::ServePrimary(const std::string& name) {
  primary_.reset();
  if (name.empty()) return;
  primary_ = std::make_unique<FixedPortServer>(root() / "servers" / name, PrimaryPort(), root() / "primary-logs");
  ASSERT_EQ(primary_->problem(), "");
}

void FaultChainTest::WriteBases(const Bases& bases) {
  WriteFile(launcherDir() / "launcher.ini",
            "[launcher]\nlauncherUrl=" + bases.launcher + "\n[game]\ngameUrl=" + bases.repaire +
                "\n[install]\ninstallUrl=" + bases.install + "\n[update]\nupdateUrl=" + bases.update +
                "\n[repaire]\nrepaireUrl=" + bases.repaire + "\n");
}

void FaultChainTest::ResetGameTree(const std::string& server) {
  WaitForProcessesInGameTree();
  fs::remove_all(gameDir());
  fs::create_directories(launcherDir());
  InstallLauncherVersion(server);
}

void FaultChainTest::RemoveClientRecords() const {
  for (const char* record : kClientRecords) fs::remove(gameDir() / record);
}

void FaultChainTest::WaitForProcessesInGameTree() const {
  if (!fs::exists(gameDir())) return;
  const fs::path tree = fs::canonical(gameDir());
  const auto deadline = std::chrono::steady_clock::now() + kProcessesEnd;
  while (!ProcessesWorkingIn(tree).empty()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "processes still work in " << tree;
      return;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

void FaultChainTest::KillProcessesInGameTree() const {
  if (!fs::exists(gameDir())) return;
  for (pid_t pid : ProcessesWorkingIn(fs::canonical(gameDir()))) kill(pid, SIGKILL);
}

std::vector<std::string> FaultChainTest::EventNamesSince(size_t mark) const {
  std::vector<std::string> names;
  const std::vector<ReceivedEvent> events = Events();
  for (size_t i = mark; i < events.size(); ++i) names.push_back(events[i].name);
  return names;
}

std::vector<std::string> FaultChainTest::EventTextsSince(size_t mark, const std::string& name) const {
  std::vector<std::string> texts;
  const std::vector<ReceivedEvent> events = Events();
  for (size_t i = mark; i < events.size(); ++i) {
    if (events[i].name == name) texts.push_back(events[i].text);
  }
  return texts;
}

std::string FaultChainTest::LaunchLog() const { return ReadFile(launcherDir() / "Launch.log"); }

void FaultChainTest::ExpectPublished(const std::string& server, const std::string& version) const {
  EXPECT_EQ(PublishedDifference(server, version), "");
}

std::string FaultChainTest::PublishedDifference(const std::string& server, const std::string& version) const {
  const fs::path published = ServerBase(server) / "GameVersion" / ("Game_" + version);
  std::set<std::string> skip = {"launcher"};
  skip.insert(std::begin(kClientRecords), std::end(kClientRecords));
  // The list's signature file of a signed tree stays on the server.
  const std::set<std::string> serverOnly = {"GameInfo.ini.sig"};
  const std::set<std::string> expected = FilesBelow(published, serverOnly);
  const std::set<std::string> present = FilesBelow(gameDir(), skip);
  std::string difference;
  for (const std::string& name : expected) {
    if (present.count(name) == 0) {
      difference += name + " of version " + version + " is missing\n";
    } else if (ReadFile(gameDir() / name) != ReadFile(published / name)) {
      difference += name + " differs from version " + version + "\n";
    }
  }
  for (const std::string& name : present) {
    if (expected.count(name) == 0) difference += name + " is not part of version " + version + "\n";
  }
  const fs::path launcher = ServerBase(server) / "LauncherVersion" / "Launcher_1.0.0";
  for (const std::string& name : FilesBelow(launcher, serverOnly)) {
    if (ReadFile(launcherDir() / name) != ReadFile(launcher / name)) difference += "launcher file " + name + "\n";
  }
  return difference;
}

}  // namespace e2e
