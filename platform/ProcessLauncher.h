// Starting processes from Windows-style command lines, and handles to running
// processes.
//
// The program (the command line's first argument, "\" or "/" separated) is
// looked for relative to the current folder; a bare name is looked for in the
// current folder first and then along PATH. A native program (an ELF file, or
// a script beginning with "#!") runs directly; a Windows program (beginning
// with "MZ") runs through `wine` when that is on PATH. Anything else fails
// with error 2, like a missing program. The program's argument vector is its
// resolved absolute path (for ReplaceProcessImage, see there) followed by the
// rest of the split command line (platform/CommandLine.h); through Wine, the
// `wine` path comes first. It gets no file descriptors other than standard
// input, output and error, the launcher's environment, and default signal
// handling.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A running (or ended) process. Owned by one thread at a time. The destructor
// closes the handle; it neither ends nor waits for the process.
class ProcessHandle {
 public:
  // A handle on the process with this id, without the right to its exit code
  // unless it is this process's child (`child`). Null when it does not exist.
  static std::unique_ptr<ProcessHandle> Open(pid_t pid, bool child = false);
  ~ProcessHandle();
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  pid_t pid() const { return pid_; }

  // Waits until the process has ended or `timeout` has passed (a negative
  // timeout waits without limit). True when it has ended; a child is then
  // reaped and its exit code known.
  bool Wait(std::chrono::milliseconds timeout);

  // Ends the process at once (SIGKILL). False with `*error` (an errno value)
  // when the signal cannot be sent.
  bool Terminate(int* error = nullptr);

  // A reaped child's exit status, or 128 + the signal number that ended it;
  // empty while it runs or for a process that is not this process's child.
  std::optional<int> ExitCode() const { return exitCode_; }

 private:
  ProcessHandle(pid_t pid, int pidfd, bool child) : pid_(pid), pidfd_(pidfd), child_(child) {}

  pid_t pid_;
  int pidfd_;
  bool child_;
  std::optional<int> exitCode_;
};

// Starts the command line's program with `workingFolder` ("\" form; empty =
// the current folder) as its current folder and returns its handle. Null on
// failure with `*error` set: 2 when the program is missing or of no kind that
// can be started, otherwise the errno of the failed start.
std::unique_ptr<ProcessHandle> StartProcess(std::string_view commandLine, std::string_view workingFolder,
                                            int* error = nullptr);

// True when the file (a "\" form path) is a native program, an ELF file or a
// "#!" script, which starts without Wine.
bool IsNativeProgram(std::string_view path);

// Gives the file, when it is a native program, the execute bits wherever it
// has read bits, as starting it would. False when that was needed and failed.
bool MakeNativeProgramExecutable(std::string_view path);

// What the image started by ReplaceProcessImage takes along beyond what
// StartProcess gives a child.
struct ImageHandover {
  // A descriptor that stays open in the new image, under its number; -1: none.
  int descriptor = -1;
  // "NAME=value" entries set in the new image's environment.
  std::vector<std::string> environment;
};

// Replaces the current process image with the command line's program, found
// and started as StartProcess does, in the current folder, with `handover`.
// A native program's first argument is the program as the command line
// writes it (the file started is the resolved one), so the folder names of
// its path do not enter its command line. The fresh temporary folders of
// this process go first (platform/TempFolder.h). Returns only on failure,
// with false and `*error` set as for StartProcess.
bool ReplaceProcessImage(std::string_view commandLine, int* error = nullptr, const ImageHandover& handover = {});
