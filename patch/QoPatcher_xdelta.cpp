#include "patch/QoPatcher_xdelta.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
// This header of glibc 2.36 lacks its C++ linkage guard.
extern "C" {
#include <sys/pidfd.h>
}

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/SystemPath.h"
#include "util/FileTransfer.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

extern char** environ;

namespace {

constexpr const char* kSourceName = "patch\\QoPatcher_xdelta.cpp";
constexpr int kStartErrorLine = 96;
constexpr int kMakeErrorLine = 104;
constexpr int kMakeWriteErrorLine = 110;
constexpr int kApplyErrorLine = 122;
constexpr int kMessageLine = 126;
constexpr int kFailed = 2;
constexpr size_t kMessageTail = 400;  // bytes of xdelta3's output kept for the log
constexpr char kDeltaMarker[] = {'Q', 'O', 'X', 'D', '\0'};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

// The last line of xdelta3's output, for the log.
std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  size_t start = text.find_last_of('\n');
  return start == std::string::npos ? text : text.substr(start + 1);
}

// Runs xdelta3 with `arguments` after its name: no shell, standard input and
// output on /dev/null, standard error collected, no other descriptors, default
// signal handling. Returns its exit status (128 + the signal number when a
// signal ended it), or -1 with `*startError` when it could not be started.
int RunXdelta3(const std::vector<std::string>& arguments, int* startError, std::string* output) {
  std::vector<std::string> argv = {"xdelta3"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    *startError = errno;
    return -1;
  }
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
  sigset_t signals;
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&setup.attributes, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&setup.attributes, &signals);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  int error = posix_spawnp(&pid, "xdelta3", &setup.actions, &setup.attributes, pointers.data(), environ);
  close(pipeFds[1]);
  if (error != 0) {
    close(pipeFds[0]);
    *startError = error;
    return -1;
  }

  // Standard error is read until its end, or until xdelta3 has ended and
  // nothing more is waiting: a writing end held anywhere else (a descriptor
  // whose close failed, a process xdelta3 left running) must not keep the
  // read waiting for ever. Without a process descriptor only the end counts.
  const int ended = pidfd_open(pid, 0);
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  bool exited = false;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(pipeFds[0], chunk, sizeof chunk);
    if (got > 0) {
      output->append(chunk, static_cast<size_t>(got));
      if (output->size() > 2 * kMessageTail) output->erase(0, output->size() - kMessageTail);
      continue;
    }
    if (got == 0 || (errno != EINTR && errno != EAGAIN) || (errno == EAGAIN && exited)) break;
    pollfd waits[2] = {{pipeFds[0], POLLIN, 0}, {ended, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) break;
    exited = waits[1].revents != 0;
  }
  if (ended >= 0) close(ended);
  close(pipeFds[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *startError = errno;
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs xdelta3 and logs a failure: `failLine` with the exit status, or the
// start error. True when it ended with status 0.
bool RunLogged(const std::vector<std::string>& arguments, int failLine) {
  int startError = 0;
  std::string output;
  int status = RunXdelta3(arguments, &startError, &output);
  if (status == 0) return true;
  if (status < 0) {
    WriteSourceLineLogSpaced(kSourceName, kStartErrorLine, "xdelta3 cannot be started ErrorCode = %d", startError);
    return false;
  }
  WriteSourceLineLogSpaced(kSourceName, failLine, "xdelta Fail ErrorCode = %d", status);
  std::string message = LastLine(std::move(output));
  if (!message.empty()) WriteSourceLineLogSpaced(kSourceName, kMessageLine, "xdelta3: %s", message.c_str());
  return false;
}

// Writes the delta marker followed by the bytes of `part` to `delta`.
bool WriteMarkedDelta(const std::string& part, const std::string& delta) {
  UniqueFd in = OpenForReading(part);
  UniqueFd out = CreateFreshFile(delta);
  return in.valid() && out.valid() && WriteFileBytes(out.get(), kDeltaMarker, sizeof kDeltaMarker) &&
         CopyFileBytes(in.get(), 0, out.get(), -1) && out.Close();
}

}  // namespace

QoPatcher_xdelta& QoPatcher_xdelta::GetInstance() {
  static QoPatcher_xdelta* instance = new QoPatcher_xdelta();
  return *instance;
}

int QoPatcher_xdelta::MakeDelta(const std::string& source, const std::string& newFile, const std::string& delta) {
  // xdelta3 refuses to overwrite its output, so the work file goes first.
  std::string part = delta + ".part";
  DeleteFile(part, ReadOnlyFile::kDelete);
  bool ok =
      RunLogged({"-v", "-e", "-s", ToSystemPath(source), ToSystemPath(newFile), ToSystemPath(part)}, kMakeErrorLine);
  if (ok && !WriteMarkedDelta(part, delta)) {
    WriteSourceLineLogSpaced(kSourceName, kMakeWriteErrorLine, "xdelta write error Path =%s", delta.c_str());
    ok = false;
  }
  DeleteFile(part, ReadOnlyFile::kDelete);
  return ok ? 0 : kFailed;
}

int QoPatcher_xdelta::ApplyDelta(const std::string& source, const std::string& delta, const std::string& target) {
  DeleteFile(target, ReadOnlyFile::kDelete);
  bool ok =
      RunLogged({"-v", "-d", "-s", ToSystemPath(source), ToSystemPath(delta), ToSystemPath(target)}, kApplyErrorLine);
  return ok ? 0 : kFailed;
}
