// Running the built launcher program in the end-to-end tests: the programs'
// paths, a started program with its input and collected output, and the
// analytics service the program posts its events to.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// A file of the build: <relative> below $LAUNCHER_BINARY_DIR, or below the
// build folder that holds this test program.
std::filesystem::path BuiltProgram(const std::string& relative);

// A program started in `folder` with `environment` ("NAME=value") added to
// the test's own; its standard input reads `input`, its standard output and
// error go to one file. With `terminalColumns` above 0, a pseudo-terminal
// that many columns wide and 24 rows high is instead its controlling terminal
// and its standard input, output and error (`input` is not used; see Type).
// The destructor kills and reaps a program that still runs.
class ProgramRun {
 public:
  static constexpr int kTerminalRows = 24;

  ProgramRun(const std::vector<std::string>& argv, const std::filesystem::path& folder, const std::string& input,
             const std::vector<std::string>& environment, int terminalColumns = 0);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // The exit status (128 + the signal for a killed program) once the program
  // has ended, waiting at most `timeout`; nothing when it still runs then.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // Everything the program wrote so far.
  std::string Output() const;

  // Sends `signal` to the program.
  void Signal(int signal) const;
  // On a terminal: types `keys` (Ctrl-C is "\x03", which the terminal turns
  // into SIGINT for the program).
  void Type(const std::string& keys) const;

 private:
  std::filesystem::path io_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  int terminal_ = -1;                   // the pseudo-terminal's master side
  mutable std::string terminalOutput_;  // read from it so far
};

// The lock file that serialises every user of the analytics port: the
// program tests and the demo.
inline constexpr const char* kProgramTestsLock = "/tmp/tovalauncher-program-tests.lock";
// Debian's strace, which scripts/setup.sh installs.
inline constexpr const char* kStrace = "/usr/bin/strace";

// One analytics event as the service received it.
struct ReceivedEvent {
  std::string name;
  std::string text;
};

// The analytics service at the build's analytics URL (which must be on
// 127.0.0.1): the fault server recording every POST. The object holds an
// exclusive lock that every test running the launcher takes, so that the
// events of two programs never meet at the one port.
class AnalyticsReceiver {
 public:
  AnalyticsReceiver();
  ~AnalyticsReceiver();
  AnalyticsReceiver(const AnalyticsReceiver&) = delete;
  AnalyticsReceiver& operator=(const AnalyticsReceiver&) = delete;

  // Empty when the receiver runs; otherwise why it does not.
  const std::string& problem() const { return problem_; }
  // The events received so far, in arrival order.
  std::vector<ReceivedEvent> Events() const;
  // While silent, the receiver records each event and never answers.
  void SetSilent(bool silent) const;

 private:
  int lock_ = -1;
  std::filesystem::path logs_;
  pid_t pid_ = -1;
  std::string problem_;
};

}  // namespace e2e
