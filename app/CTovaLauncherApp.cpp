#include "app/CTovaLauncherApp.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureManager.h"
#include "Procedure/StandardProcedures.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/ProcessLauncher.h"
#include "platform/SignalWatcher.h"
#include "platform/TempFolder.h"
#include "telemetry/EventReport.h"
#include "ui/CTovaLauncherDlg.h"
#include "ui/EventSink.h"
#include "ui/ProcedureControl.h"
#include "ui/TerminalFrontEnd.h"
#include "ui/sdl/SdlFrontEnd.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

namespace {

constexpr const char* kRunBinSwitch = " -runbin";
constexpr const char* kRepaireSwitch = " -repaire";
constexpr const char* kLauncherVersion = "1.0.0";

// Deleting the old copy and making the new one: retries after a failed
// attempt, each after a wait.
constexpr int kFileStepRetries = 20;
constexpr uint32_t kFileStepWaitMs = 100;
// A program started under another name runs the window after this wait.
constexpr uint32_t kOtherNameWaitMs = 100;
// How long the end of the program waits for events still being uploaded; a
// run stopped on request ends sooner, as the one who stopped it waits.
constexpr std::chrono::milliseconds kPendingReportsWait{15000};
constexpr std::chrono::milliseconds kInterruptedReportsWait{500};

// What a launcher hands over to the image that replaces it: the descriptor
// that holds the launcher folder's lock, and the mark of a relaunch after a
// self-update (from the copy to the installed launcher, and on to its copy).
constexpr const char* kLockDescriptorVariable = "TOVALAUNCHER_LOCK_FD";
constexpr const char* kRelaunchedVariable = "TOVALAUNCHER_RELAUNCHED";

constexpr const char* kAlreadyRunningText = "ランチャーは既に起動しています。";
constexpr const char* kCaption = "メッセージ";

struct Handover {
  int lockDescriptor = -1;
  bool relaunched = false;
};

// What the image before this one handed over. The variables are removed, so
// nothing this process starts sees them.
Handover TakeHandover() {
  Handover handover;
  if (const char* text = std::getenv(kLockDescriptorVariable)) {
    char* end = nullptr;
    errno = 0;
    const long descriptor = std::strtol(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && descriptor > STDERR_FILENO && descriptor <= INT_MAX)
      handover.lockDescriptor = static_cast<int>(descriptor);
  }
  const char* relaunched = std::getenv(kRelaunchedVariable);
  handover.relaunched = relaunched != nullptr && std::string_view(relaunched) == "1";
  unsetenv(kLockDescriptorVariable);
  unsetenv(kRelaunchedVariable);
  return handover;
}

// The command line as the system keeps it: the arguments joined with blanks.
std::string ProcessCommandLine() {
  // Bounded by what the kernel lets a program's arguments take (4 MiB with
  // an 8 MiB stack limit); a read error leaves the line empty.
  constexpr uint64_t kArgumentsMaxBytes = uint64_t{4} << 20;
  std::string line;
  static_cast<void>(ReadSmallFile("/proc/self/cmdline", kArgumentsMaxBytes, line));
  while (!line.empty() && line.back() == '\0') line.pop_back();
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  return line;
}

// The file-name part of the running executable's path.
std::string ExecutableFileName() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  path.resize(length > 0 ? static_cast<size_t>(length) : 0);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Runs `step` until it succeeds: after a failure, waits and tries again, at
// most kFileStepRetries times. False when every attempt failed.
bool WithRetries(const std::function<bool()>& step) {
  for (int retries = 0;; ++retries) {
    if (step()) return true;
    SleepMs(kFileStepWaitMs);
    if (retries == kFileStepRetries) return false;
  }
}

// On failure `error` holds the last attempt's error number.
bool DeleteOldCopy(int& error) {
  if (!IsPathExist(kRunningCopyName)) return true;
  // A read-only copy goes too, as it would once its attributes were made
  // "normal".
  return WithRetries([&error] {
    if (DeleteFile(kRunningCopyName, ReadOnlyFile::kDelete) || errno == ENOENT) return true;
    error = errno;
    return false;
  });
}

bool MakeRunningCopy(int& error) {
  return WithRetries([&error] {
    if (CopyFileOverwrite(kInstalledLauncherName, kRunningCopyName)) return true;
    error = errno;
    return false;
  });
}

// The first stage ends without a window when it cannot place its copy: one
// line on standard error tells the player or deployer why.
void ReportUnusableFolder(int error) {
  std::error_code unknown;
  const std::string folder = std::filesystem::current_path(unknown).string();
  if (!IsPathExist(kInstalledLauncherName)) {
    std::fprintf(stderr, "%s: %s holds no %s: start the launcher in its own folder, next to launcher.ini\n",
                 kInstalledLauncherName, folder.c_str(), kInstalledLauncherName);
  } else {
    std::fprintf(stderr, "%s: cannot write %s in %s (%s): the launcher's own folder must be writable\n",
                 kInstalledLauncherName, kRunningCopyName, folder.c_str(), std::strerror(error));
  }
}

}  // namespace

// What the launcher shows goes to the caller's standard output; the launch
// log's echo on standard output (which a windowed program's user never sees)
// goes nowhere until the program ends or replaces its image.
class DisplayOutput {
 public:
  DisplayOutput() {
    const int display = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (display < 0) return;
    out_ = fdopen(display, "w");
    if (out_ == nullptr) {
      close(display);
      return;
    }
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      std::fflush(stdout);
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  // Standard output is the caller's again.
  ~DisplayOutput() {
    if (out_ == nullptr) return;
    std::fflush(stdout);
    std::fflush(out_);
    dup2(fileno(out_), STDOUT_FILENO);
    std::fclose(out_);
  }
  DisplayOutput(const DisplayOutput&) = delete;
  DisplayOutput& operator=(const DisplayOutput&) = delete;

  std::FILE* file() const { return out_ != nullptr ? out_ : stdout; }

 private:
  std::FILE* out_ = nullptr;
};

namespace {

// RunMainWindow's answer when the installed launcher is to be started again.
constexpr int kRelaunchStatus = -1;

// The graphical front-end when a display can be used, the terminal one
// otherwise, showing on `display`.
class ChosenFrontEnd {
 public:
  explicit ChosenFrontEnd(std::FILE* display)
      : graphical_(SdlFrontEnd::Create()),
        terminal_(stdin, display, isatty(STDIN_FILENO) == 1, isatty(fileno(display)) == 1) {}

  FrontEnd& get() { return graphical_ ? static_cast<FrontEnd&>(*graphical_) : terminal_; }

 private:
  std::unique_ptr<SdlFrontEnd> graphical_;
  TerminalFrontEnd terminal_;
};

LauncherOutcome RunWindow(bool repaireFlag, bool relaunched, std::FILE* display) {
  // The procedures keep files in the private temporary folder: when it has
  // to be replaced, the log says why.
  SetTempFolderNoticeHandler([](const std::string& notice) { WriteLaunchLog("%s", notice.c_str()); });
  ChosenFrontEnd frontEnd(display);
  auto manager = std::make_unique<ProcedureManager>(MakeStandardProcedure);
  ManagerProcedureControl procedures(*manager);
  CTovaLauncherDlg dlg(procedures, TelemetryEventSink(), frontEnd.get(), repaireFlag, relaunched);
  // Ctrl-C on a terminal asks first; SIGINT from elsewhere and SIGTERM (sent
  // by scripts and session managers) stop at once. The watcher outlives the
  // window's run, so a signal during the clean-up changes nothing.
  const bool inputIsTerminal = isatty(STDIN_FILENO) == 1;
  SignalWatcher signals([&dlg, inputIsTerminal](int signal) {
    if (signal == SIGTERM) {
      dlg.RequestStop(StopRequest::kSigterm);
    } else {
      dlg.RequestStop(inputIsTerminal ? StopRequest::kInterrupt : StopRequest::kSigint);
    }
  });
  const LauncherOutcome outcome = dlg.DoModal();
  // The manager goes first: its workers' last messages still reach the window.
  manager.reset();
  return outcome;
}

}  // namespace

void CTovaLauncherApp::ScanCommandLine(std::string_view commandLine) {
  runBinFlag_ = commandLine.find("-runbin") != std::string_view::npos;
  repaireFlag_ = commandLine.find("-repaire") != std::string_view::npos;
}

int CTovaLauncherApp::InitInstance() {
  ScanCommandLine(ProcessCommandLine());
  const Handover handover = TakeHandover();
  relaunched_ = handover.relaunched;
  std::optional<DisplayOutput> display(std::in_place);
  WriteLaunchLog("-----------------------QoLauncher start! version: %s, runbin: %d ---------------------",
                 kLauncherVersion, runBinFlag_ ? 1 : 0);
  if (!TakeLock(handover.lockDescriptor)) {
    WriteLaunchLog("another launcher runs in this folder (%s is locked), exit", kLauncherLockName);
    ChosenFrontEnd(display->file()).get().Ask(kAlreadyRunningText, kCaption);
    return 1;
  }
  if (!runBinFlag_) {
    std::remove(kLaunchLogBackupName);
    std::rename(kLaunchLogName, kLaunchLogBackupName);
    if (EqualsIgnoreCase(ExecutableFileName(), kInstalledLauncherName)) {
      int error = 0;
      if (!DeleteOldCopy(error) || !MakeRunningCopy(error)) {
        ReportUnusableFolder(error);
        return 1;
      }
      std::string commandLine = std::string(kRunningCopyName) + kRunBinSwitch;
      if (repaireFlag_) commandLine += kRepaireSwitch;
      display.reset();
      ReplaceImage(commandLine, relaunched_);
      return 1;  // the copy could not be started
    }
    SleepMs(kOtherNameWaitMs);
  }
  // Whatever name this program runs under, a relaunch asked for is made.
  const int status = RunMainWindow(*display);
  // A self-update that replaced the installed launcher without relaunching it
  // (after a relaunch, or when a later file failed) leaves it as downloaded,
  // without execute bits: the user must still be able to start it.
  MakeNativeProgramExecutable(kInstalledLauncherName);
  if (status != kRelaunchStatus) return status;
  std::string commandLine = kInstalledLauncherName;
  if (repaireFlag_) commandLine += kRepaireSwitch;
  display.reset();
  ReplaceImage(commandLine, true);
  return 1;  // the installed launcher could not be started
}

bool CTovaLauncherApp::TakeLock(int handedOver) {
  if (lock_.Adopt(handedOver, kLauncherLockName)) return true;
  int error = 0;
  switch (lock_.Lock(kLauncherLockName, &error)) {
    case FileLock::Result::kLocked: return true;
    case FileLock::Result::kHeld: return false;
    case FileLock::Result::kFailed: break;
  }
  WriteLaunchLog("cannot lock %s (%s), running without the lock", kLauncherLockName, std::strerror(error));
  return true;
}

void CTovaLauncherApp::ReplaceImage(const std::string& commandLine, bool relaunch) {
  ImageHandover handover;
  if (lock_.descriptor() >= 0) {
    handover.descriptor = lock_.descriptor();
    handover.environment.push_back(std::string(kLockDescriptorVariable) + "=" + std::to_string(lock_.descriptor()));
  }
  if (relaunch) handover.environment.push_back(std::string(kRelaunchedVariable) + "=1");
  ReplaceProcessImage(commandLine, nullptr, handover);
}

int CTovaLauncherApp::RunMainWindow(DisplayOutput& display) {
  // A closed output must not end the launcher in the middle of an update.
  signal(SIGPIPE, SIG_IGN);
  const LauncherOutcome outcome = RunWindow(repaireFlag_, relaunched_, display.file());
  WaitForPendingReports(outcome == LauncherOutcome::kInterrupted ? kInterruptedReportsWait : kPendingReportsWait);
  switch (outcome) {
    case LauncherOutcome::kGameStarted: return 0;
    case LauncherOutcome::kRelaunch: return kRelaunchStatus;
    case LauncherOutcome::kStopped:
    case LauncherOutcome::kInterrupted: break;
  }
  return 1;
}
