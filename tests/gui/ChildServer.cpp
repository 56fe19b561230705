#include "tests/gui/ChildServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace guitest {

ReadyChild StartReadyChild(const std::function<std::vector<std::string>(int fd)>& arguments) {
  ReadyChild child;
  int ready[2];
  if (pipe(ready) != 0) return child;
  const std::vector<std::string> argv = arguments(ready[1]);
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  child.pid = fork();
  if (child.pid == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    close(ready[0]);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
  close(ready[1]);
  char c = 0;
  while (child.pid > 0 && read(ready[0], &c, 1) == 1 && c != '\n') child.line += c;
  close(ready[0]);
  return child;
}

void StopChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

EnvironmentOverride::EnvironmentOverride(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* saved = std::getenv(name)) saved_ = saved;
  Set(name, value);
}

EnvironmentOverride::~EnvironmentOverride() { Set(name_, saved_); }

void EnvironmentOverride::Set(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace guitest
