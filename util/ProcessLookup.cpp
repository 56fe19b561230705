#include "util/ProcessLookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Process ids listed in /proc, lowest first (the oldest processes).
std::vector<pid_t> ListProcessIds() {
  std::vector<pid_t> ids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return ids;
  }
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long id = std::strtol(entry->d_name, &end, 10);
    if (*end == '\0' && id > 0) {
      ids.push_back(static_cast<pid_t>(id));
    }
  }
  closedir(proc);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Reads a small /proc file of the process open as `processFd`. Fails once
// that process has ended, even when its id has been reused.
bool ReadProcFile(int processFd, const char* name, std::string& text) {
  const int fd = openat(processFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  text.assign(4096, '\0');
  const ssize_t got = read(fd, text.data(), text.size());
  close(fd);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return got >= 0;
}

std::string_view FileNameOf(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Running (or stopped) rather than ended and waiting to be reaped.
bool IsLive(int processFd) {
  std::string stat;
  if (!ReadProcFile(processFd, "stat", stat)) {
    return false;
  }
  const size_t nameEnd = stat.rfind(')');  // the command name may hold anything
  return nameEnd != std::string::npos && nameEnd + 2 < stat.size() && stat[nameEnd + 2] != 'Z' &&
         stat[nameEnd + 2] != 'X';
}

// The names a process is known by (see ProcessLookup.h).
std::vector<std::string> NamesOf(int processFd) {
  std::vector<std::string> names;
  std::string exe(4096, '\0');
  const ssize_t linkLength = readlinkat(processFd, "exe", exe.data(), exe.size());
  if (linkLength > 0) {
    exe.resize(static_cast<size_t>(linkLength));
    names.emplace_back(FileNameOf(exe));
  }
  std::string command;
  if (ReadProcFile(processFd, "comm", command) && !command.empty() && command.back() == '\n') {
    command.pop_back();
  }
  std::string cmdline;
  ReadProcFile(processFd, "cmdline", cmdline);
  const std::string_view arguments = cmdline;
  const size_t firstEnd = arguments.find('\0');
  names.emplace_back(FileNameOf(arguments.substr(0, firstEnd)));
  if (!command.empty()) {
    // A script: the kernel names the process after the script file (cut to
    // 15 bytes) and passes the script's path to the interpreter after its
    // own name.
    if (firstEnd != std::string_view::npos) {
      const std::string_view second = arguments.substr(firstEnd + 1);
      const std::string_view script = FileNameOf(second.substr(0, second.find('\0')));
      if (script.starts_with(command)) {
        names.emplace_back(script);
      }
    }
    names.push_back(std::move(command));
  }
  return names;
}

bool NameMatches(int processFd, std::string_view name) {
  const std::vector<std::string> names = NamesOf(processFd);
  return std::any_of(names.begin(), names.end(), [name](const std::string& known) { return known.starts_with(name); });
}

}  // namespace

std::unique_ptr<ProcessHandle> OpenProcessByName(std::string_view name) {
  for (const pid_t id : ListProcessIds()) {
    const int processFd = open(("/proc/" + std::to_string(id)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (processFd < 0) {
      continue;
    }
    std::unique_ptr<ProcessHandle> handle;
    if (IsLive(processFd) && NameMatches(processFd, name)) {
      handle = ProcessHandle::Open(id);
      // The handle is only sure to be the examined process if that process
      // is still there after the handle was opened (its id cannot have been
      // reused before it ended).
      if (handle && !IsLive(processFd)) {
        handle.reset();
      }
    }
    close(processFd);
    if (handle) {
      return handle;
    }
  }
  return nullptr;
}
