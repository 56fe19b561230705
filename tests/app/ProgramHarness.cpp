#include "tests/app/ProgramHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/TempDir.h"

extern char** environ;

namespace e2e {
namespace {

constexpr std::chrono::milliseconds kPoll{10};

std::filesystem::path MakeTempFolder(const char* tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// The exit status of a reaped child.
int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

void KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

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

// The port of the build's analytics URL, or 0 when it is not on 127.0.0.1.
int AnalyticsPort() {
  const std::string settings = testsupport::ReadFile(BuiltProgram("generated/BuildSettings.h"));
  std::smatch match;
  static const std::regex url(R"re(#define LAUNCHER_ANALYTICS_URL "http://127\.0\.0\.1:(\d+)")re");
  return std::regex_search(settings, match, url) ? std::stoi(match[1]) : 0;
}

std::string HexToBytes(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace

std::filesystem::path BuiltProgram(const std::string& relative) {
  if (const char* binary = std::getenv("LAUNCHER_BINARY_DIR")) return std::filesystem::path(binary) / relative;
  // This test program is <build>/tests/app/test_app.
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path().parent_path() / relative;
}

ProgramRun::ProgramRun(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                       const std::string& input, const std::vector<std::string>& environment, int terminalColumns)
    : io_(MakeTempFolder("launcher-run")) {
  testsupport::WriteFile(io_ / "input", input);
  const std::string inputPath = (io_ / "input").string();
  const std::string outputPath = (io_ / "output").string();
  // Everything the child needs is made before the fork.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::string name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(environment.begin(), environment.end(),
                                      [&name](const std::string& added) { return added.starts_with(name); });
    // Without a display the program uses its terminal front-end, which reads
    // the test's answers from standard input.
    const bool display = name == "DISPLAY=" || name == "WAYLAND_DISPLAY=";
    if (!replaced && !display) variables.push_back(text);
  }
  variables.insert(variables.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  std::string terminalName;
  const bool onTerminal = terminalColumns > 0;
  if (onTerminal) {
    terminal_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const winsize size{static_cast<unsigned short>(kTerminalRows), static_cast<unsigned short>(terminalColumns), 0, 0};
    if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0 || ptsname(terminal_) == nullptr ||
        ioctl(terminal_, TIOCSWINSZ, &size) != 0)
      throw std::runtime_error("no pseudo-terminal");
    terminalName = ptsname(terminal_);
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0 && onTerminal) {
    // A session of its own, whose controlling terminal the pseudo-terminal becomes.
    const int tty = setsid() < 0 ? -1 : open(terminalName.c_str(), O_RDWR);
    if (tty < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(tty, STDIN_FILENO);
    dup2(tty, STDOUT_FILENO);
    dup2(tty, STDERR_FILENO);
    if (tty > STDERR_FILENO) close(tty);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (pid_ == 0) {
    const int in = open(inputPath.c_str(), O_RDONLY);
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
}

ProgramRun::~ProgramRun() {
  if (!status_) KillAndReap(pid_);
  if (terminal_ >= 0) close(terminal_);
  std::error_code ignored;
  std::filesystem::remove_all(io_, ignored);
}

std::optional<int> ProgramRun::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = StatusOf(raw);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(kPoll);
    }
  }
  return status_;
}

std::string ProgramRun::Output() const {
  if (terminal_ < 0) return testsupport::ReadFile(io_ / "output");
  pollfd ready{terminal_, POLLIN, 0};
  while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
    char buffer[4096];
    const ssize_t got = read(terminal_, buffer, sizeof buffer);
    if (got <= 0) break;
    terminalOutput_.append(buffer, static_cast<size_t>(got));
  }
  return terminalOutput_;
}

void ProgramRun::Signal(int signal) const { kill(pid_, signal); }

void ProgramRun::Type(const std::string& keys) const {
  if (terminal_ >= 0 && write(terminal_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
    ADD_FAILURE() << "cannot type on the terminal";
}

AnalyticsReceiver::AnalyticsReceiver() {
  // Machine-wide, like the port: every test process has a temporary folder
  // of its own, so the lock cannot live there.
  const std::filesystem::path lockPath = kProgramTestsLock;
  lock_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock_ < 0 || flock(lock_, LOCK_EX) != 0) {
    problem_ = "cannot take " + lockPath.string();
    return;
  }
  const int port = AnalyticsPort();
  if (port == 0) {
    problem_ = "the build's analytics URL is not on 127.0.0.1";
    return;
  }
  if (CanConnect(port)) {
    problem_ = "something else listens on the analytics port " + std::to_string(port);
    return;
  }
  logs_ = MakeTempFolder("launcher-analytics");
  const std::string script = std::string(TEST_SUPPORT_DIR) + "/fault_server.py";
  const std::string portText = std::to_string(port);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    execlp("python3", "python3", script.c_str(), "--port", portText.c_str(), "--root", logs_.c_str(), "--log-dir",
           logs_.c_str(), "--post-reply", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500 && !CanConnect(port); ++i) std::this_thread::sleep_for(kPoll);
  if (!CanConnect(port)) problem_ = "the analytics receiver did not start";
}

AnalyticsReceiver::~AnalyticsReceiver() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (!logs_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(logs_, ignored);
  }
  if (lock_ >= 0) close(lock_);  // releases the lock
}

void AnalyticsReceiver::SetSilent(bool silent) const {
  if (silent) {
    testsupport::WriteFile(logs_ / "silent", "");
  } else {
    std::filesystem::remove(logs_ / "silent");
  }
}

std::vector<ReceivedEvent> AnalyticsReceiver::Events() const {
  std::vector<ReceivedEvent> events;
  std::istringstream posts(testsupport::ReadFile(logs_ / "posts.log"));
  static const std::regex bodyHex(R"re("body_hex": "([0-9a-f]*)")re");
  for (std::string line; std::getline(posts, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, bodyHex)) continue;
    const std::string body = HexToBytes(match[1]);
    const size_t log = body.find("&log=");
    if (log == std::string::npos) continue;
    // The record's fields are separated by 0x01; the last two are the
    // event's name and text.
    std::vector<std::string> fields;
    std::istringstream record(body.substr(log + 5));
    for (std::string field; std::getline(record, field, '\x01');) fields.push_back(field);
    if (body.back() == '\x01') fields.push_back("");
    if (fields.size() == 18) events.push_back({fields[16], fields[17]});
  }
  return events;
}

}  // namespace e2e
