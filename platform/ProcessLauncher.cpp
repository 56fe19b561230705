#include "platform/ProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
// This header of glibc 2.36 lacks its C++ linkage guard.
extern "C" {
#include <sys/pidfd.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/SystemPath.h"
#include "platform/TempFolder.h"

extern char** environ;

namespace {

constexpr int kErrorFileNotFound = 2;

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string CurrentFolder() {
  std::string folder(PATH_MAX, '\0');
  if (getcwd(folder.data(), folder.size()) == nullptr) {
    return {};
  }
  folder.resize(folder.find('\0'));
  return folder;
}

// The first executable file `name` in the folders of PATH (an empty entry is
// the current folder), as an absolute path; empty when there is none.
std::string FindOnPath(const std::string& name, const std::string& here) {
  const char* env = std::getenv("PATH");
  std::string_view path = env != nullptr ? env : "";
  while (!path.empty()) {
    const size_t colon = path.find(':');
    const std::string folder(path.substr(0, colon));
    path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
    const std::string candidate = (folder.empty()          ? here
                                   : folder.front() == '/' ? folder
                                                           : here + "/" + folder) +
                                  "/" + name;
    if (IsRegularFile(candidate) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

// The absolute path of the program, or empty when it is not found. A name
// with a separator is taken relative to the current folder; a bare name is
// looked for in the current folder and then along PATH.
std::string ResolveProgram(std::string_view name) {
  const std::string path = ToSystemPath(name);
  if (path.empty()) {
    return {};
  }
  if (path.front() == '/') {
    return IsRegularFile(path) ? path : std::string();
  }
  const std::string here = CurrentFolder();
  if (here.empty()) {
    return {};  // the current folder is gone: relative names mean nothing
  }
  const std::string local = here + "/" + path;
  if (IsRegularFile(local)) {
    return local;
  }
  return path.find('/') == std::string::npos ? FindOnPath(path, here) : std::string();
}

// Adds the execute bits wherever the read bits are set, when the owner cannot
// execute the file yet. False when that is needed and fails.
bool MakeExecutable(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return false;
  }
  if ((st.st_mode & S_IXUSR) != 0) {
    return true;
  }
  const mode_t readable = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
  return chmod(path.c_str(), (st.st_mode & 07777) | (readable >> 2)) == 0;
}

enum class ProgramKind { kNative, kWindows, kUnknown };

ProgramKind KindOf(const std::string& path) {
  char head[4] = {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return ProgramKind::kUnknown;
  }
  const ssize_t got = read(fd, head, sizeof(head));
  close(fd);
  const std::string_view bytes(head, got > 0 ? static_cast<size_t>(got) : 0);
  if (bytes ==
          "\x7f"
          "ELF" ||
      bytes.starts_with("#!")) {
    return ProgramKind::kNative;
  }
  if (bytes.starts_with("MZ")) {
    return ProgramKind::kWindows;
  }
  return ProgramKind::kUnknown;
}

// The argument vector to execute for a command line: the program's resolved
// path and its arguments, behind `wine` for a Windows program; `file` is
// what to execute (the first of them). With `writtenName`, a native
// program's first argument stays as the command line writes it. Empty, with
// `error` set, when there is nothing that can be started.
std::vector<std::string> ExecutableArguments(std::string_view commandLine, bool writtenName, std::string& file,
                                             int& error) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  error = kErrorFileNotFound;
  if (args.empty()) {
    return {};
  }
  const std::string program = ResolveProgram(args.front());
  if (program.empty()) {
    return {};
  }
  file = program;
  switch (KindOf(program)) {
    case ProgramKind::kNative:
      // Zip pages and downloads carry no permission bits: a native program of
      // the game arrives without them. Its format is what makes it a program
      // here, as the ".exe" name does on Windows.
      if (!MakeExecutable(program)) {
        error = EACCES;
        return {};
      }
      if (!writtenName) args.front() = program;
      break;
    case ProgramKind::kWindows: {
      file = FindOnPath("wine", CurrentFolder());
      if (file.empty()) {
        return {};
      }
      args.front() = program;
      args.insert(args.begin(), file);
      break;
    }
    case ProgramKind::kUnknown: return {};
  }
  error = 0;
  return args;
}

std::vector<char*> ArgvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  return argv;
}

// Every signal a program may start with default handling (SIGKILL and
// SIGSTOP cannot be changed).
sigset_t ResettableSignals() {
  sigset_t signals;
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  return signals;
}

// This process's environment with `added` ("NAME=value") in place of the
// entries of the same names.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& added) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::string_view name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(added.begin(), added.end(),
                                      [name](const std::string& variable) { return variable.starts_with(name); });
    if (!replaced) variables.emplace_back(text);
  }
  variables.insert(variables.end(), added.begin(), added.end());
  return variables;
}

// Marks every descriptor from 3 on close-on-exec, except `kept` (-1: none),
// which stays open across an exec. Returns the descriptor flags `kept` had
// (-1 when it is none of them), for RestoreFlags.
int KeepOnlyAcrossExec(int kept) {
  if (kept < 3) {
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    return -1;
  }
  if (kept > 3) close_range(3, static_cast<unsigned>(kept) - 1, CLOSE_RANGE_CLOEXEC);
  close_range(static_cast<unsigned>(kept) + 1, ~0U, CLOSE_RANGE_CLOEXEC);
  const int flags = fcntl(kept, F_GETFD);
  if (flags >= 0) fcntl(kept, F_SETFD, flags & ~FD_CLOEXEC);
  return flags;
}

void SetError(int* error, int value) {
  if (error != nullptr) {
    *error = value;
  }
}

}  // namespace

bool IsNativeProgram(std::string_view path) { return KindOf(ToSystemPath(path)) == ProgramKind::kNative; }

bool MakeNativeProgramExecutable(std::string_view path) {
  const std::string file = ToSystemPath(path);
  return KindOf(file) != ProgramKind::kNative || MakeExecutable(file);
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(pid_t pid, bool child) {
  const int pidfd = pidfd_open(pid, 0);
  if (pidfd < 0) {
    return nullptr;
  }
  return std::unique_ptr<ProcessHandle>(new ProcessHandle(pid, pidfd, child));
}

ProcessHandle::~ProcessHandle() {
  if (child_ && !exitCode_) {
    // Reap an ended child; one still running is left to run on.
    siginfo_t info{};
    waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED | WNOHANG);
  }
  close(pidfd_);
}

bool ProcessHandle::Wait(std::chrono::milliseconds timeout) {
  if (exitCode_) {
    return true;
  }
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout.count() < 0;
  const Clock::time_point deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
  pollfd entry{pidfd_, POLLIN, 0};
  while (true) {
    int wait = -1;
    if (!forever) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
    }
    const int ready = poll(&entry, 1, wait);
    if (ready > 0) {
      break;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
  if (child_) {
    siginfo_t info{};
    if (waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED) == 0) {
      exitCode_ = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    }
  }
  return true;
}

bool ProcessHandle::Terminate(int* error) {
  if (pidfd_send_signal(pidfd_, SIGKILL, nullptr, 0) != 0) {
    SetError(error, errno);
    return false;
  }
  return true;
}

std::unique_ptr<ProcessHandle> StartProcess(std::string_view commandLine, std::string_view workingFolder, int* error) {
  int failure = 0;
  std::string file;
  std::vector<std::string> args = ExecutableArguments(commandLine, false, file, failure);
  if (args.empty()) {
    SetError(error, failure);
    return nullptr;
  }
  std::vector<char*> argv = ArgvOf(args);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string folder = ToSystemPath(workingFolder);
  if (!folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  const sigset_t all = ResettableSignals();
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  failure = posix_spawn(&pid, file.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    SetError(error, failure);
    return nullptr;
  }
  std::unique_ptr<ProcessHandle> handle = ProcessHandle::Open(pid, true);
  if (!handle) {
    // Without a handle the child could be neither waited for nor ended.
    failure = errno;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    SetError(error, failure);
  }
  return handle;
}

bool ReplaceProcessImage(std::string_view commandLine, int* error, const ImageHandover& handover) {
  int failure = 0;
  std::string file;
  std::vector<std::string> args = ExecutableArguments(commandLine, true, file, failure);
  if (args.empty()) {
    SetError(error, failure);
    return false;
  }
  std::vector<char*> argv = ArgvOf(args);
  std::vector<std::string> variables = EnvironmentWith(handover.environment);
  std::vector<char*> envp = ArgvOf(variables);

  // The new image gets what StartProcess gives a child: no inherited
  // descriptors but the one handed over (marked close-on-exec, which is
  // harmless should the exec fail), no blocked or ignored signals (restored
  // should the exec fail).
  const int keptFlags = KeepOnlyAcrossExec(handover.descriptor);
  sigset_t none;
  sigset_t previousMask;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, &previousMask);
  std::vector<std::pair<int, struct sigaction>> ignored;
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction action {};
    if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
      ignored.emplace_back(number, action);
      struct sigaction standard {};
      standard.sa_handler = SIG_DFL;
      sigaction(number, &standard, nullptr);
    }
  }

  RemoveFreshTempFolders();
  execve(file.c_str(), argv.data(), envp.data());
  failure = errno;
  if (keptFlags >= 0) fcntl(handover.descriptor, F_SETFD, keptFlags);
  for (const auto& [number, action] : ignored) {
    sigaction(number, &action, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  SetError(error, failure);
  return false;
}
