// Starting real programs and scripts, waiting for them and ending them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/FileLock.h"
#include "platform/ProcessLauncher.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testsupport;

namespace {

void WriteScript(const fs::path& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all);
}

// Sets an environment variable for the scope of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ProcessLauncherTest : public ::testing::Test {
 protected:
  // The exit code of a started command line, run to its end.
  std::optional<int> RunToEnd(const std::string& commandLine, const std::string& workingFolder = "") {
    int error = -1;
    std::unique_ptr<ProcessHandle> process = StartProcess(commandLine, workingFolder, &error);
    EXPECT_NE(process, nullptr) << commandLine << " error " << error;
    if (!process) {
      return std::nullopt;
    }
    EXPECT_TRUE(process->Wait(-1ms));
    return process->ExitCode();
  }

  TempDir dir_;
  CurrentDirScope inDir_{dir_.path()};
};

}  // namespace

TEST_F(ProcessLauncherTest, StartsAScriptInItsWorkingFolder) {
  fs::create_directories("tools");
  fs::create_directories("work");
  WriteScript("tools/probe.sh", "pwd > out; echo \"$0\" >> out; for a in \"$@\"; do echo \"[$a]\" >> out; done\n");
  EXPECT_EQ(RunToEnd("tools\\probe.sh one \"two words\" a\\\"q", "work"), 0);
  const std::string expected = (dir_.path() / "work").string() + "\n" + (dir_.path() / "tools/probe.sh").string() +
                               "\n[one]\n[two words]\n[a\"q]\n";
  EXPECT_EQ(ReadFile("work/out"), expected);
}

TEST_F(ProcessLauncherTest, ReportsTheExitCode) {
  WriteScript("seven", "exit 7\n");
  EXPECT_EQ(RunToEnd("seven"), 7);
  EXPECT_EQ(RunToEnd("sh -c \"exit 3\""), 3);  // found along PATH
}

TEST_F(ProcessLauncherTest, ANativeProgramUnpackedWithoutExecuteBitsStillStarts) {
  // Files unpacked from zip pages or downloaded carry no permission bits.
  WriteFile("client/game", "#!/bin/sh\nexit 4\n");
  fs::permissions("client/game", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(RunToEnd("client/game"), 4);
  const fs::perms perms = fs::status("client/game").permissions();
  EXPECT_EQ(perms & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec),
            fs::perms::owner_exec | fs::perms::group_exec);
}

// The same without starting it; other files keep their bits.
TEST_F(ProcessLauncherTest, MakeNativeProgramExecutableLeavesOtherFilesAlone) {
  const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  WriteFile("program", "#!/bin/sh\n");
  WriteFile("data.txt", "text\n");
  for (const char* name : {"program", "data.txt"}) fs::permissions(name, readable);
  EXPECT_TRUE(MakeNativeProgramExecutable("program"));
  EXPECT_TRUE(MakeNativeProgramExecutable("data.txt"));
  EXPECT_TRUE(MakeNativeProgramExecutable("missing"));
  EXPECT_EQ(fs::status("program").permissions(), readable | fs::perms::owner_exec | fs::perms::others_exec);
  EXPECT_EQ(fs::status("data.txt").permissions(), readable);
}

TEST_F(ProcessLauncherTest, BareNamesSearchTheCurrentFolderFirst) {
  const std::string name = "qo_probe_" + std::to_string(getpid());
  fs::create_directories("bin");
  WriteScript("bin/" + name, "exit 6\n");
  WriteScript(name, "exit 5\n");
  const ScopedEnv path("PATH", (dir_.path() / "bin").string() + ":" + std::getenv("PATH"));
  EXPECT_EQ(RunToEnd(name), 5);
  fs::remove(name);
  EXPECT_EQ(RunToEnd(name), 6);
}

TEST_F(ProcessLauncherTest, WhatCannotBeStartedGivesError2) {
  WriteFile("data.txt", "neither a program nor a script\n");
  fs::permissions("data.txt", fs::perms::owner_all);
  WriteFile("game.exe", "MZ and no wine");
  fs::create_directories("folder");
  const ScopedEnv path("PATH", (dir_.path() / "folder").string());  // no wine here
  for (const char* line : {"data.txt", "game.exe -x", "missing.exe", "folder", "", "   ", "\"\" x"}) {
    int error = 0;
    EXPECT_EQ(StartProcess(line, "", &error), nullptr) << line;
    EXPECT_EQ(error, 2) << line;
  }
}

TEST_F(ProcessLauncherTest, WindowsProgramsRunThroughWine) {
  fs::create_directories("bin");
  WriteScript("bin/wine", "for a in \"$@\"; do echo \"[$a]\"; done > wine.out\n");
  WriteFile("game.exe", std::string("MZ\x90\x00", 4));
  const ScopedEnv path("PATH", (dir_.path() / "bin").string());
  EXPECT_EQ(RunToEnd("game.exe -screen-fullscreen 0"), 0);
  EXPECT_EQ(ReadFile("wine.out"), "[" + (dir_.path() / "game.exe").string() + "]\n[-screen-fullscreen]\n[0]\n");
}

TEST_F(ProcessLauncherTest, WaitTimesOutAndTerminateEnds) {
  int error = 0;
  std::unique_ptr<ProcessHandle> process = StartProcess("sleep 600", "", &error);
  ASSERT_NE(process, nullptr) << error;
  EXPECT_FALSE(process->Wait(0ms));
  EXPECT_FALSE(process->Wait(5ms));
  EXPECT_FALSE(process->ExitCode());
  EXPECT_TRUE(process->Terminate(&error));
  EXPECT_TRUE(process->Wait(-1ms));
  EXPECT_EQ(process->ExitCode(), 128 + SIGKILL);
  EXPECT_FALSE(process->Terminate(&error));  // reaped: nothing left to end
  EXPECT_EQ(error, ESRCH);
}

TEST_F(ProcessLauncherTest, ChildGetsNoDescriptorsAndDefaultSignals) {
  // A descriptor without close-on-exec, an ignored and a blocked signal.
  const int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, 57), 57);
  close(fd);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &previous);
  sigset_t blocked;
  sigset_t previousMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

  WriteScript("probe",
              "[ -e /proc/$$/fd/57 ] && echo open > out || echo closed > out\n"
              // Builtins only: while waiting for a command, the shell blocks signals itself.
              "while read -r line; do case $line in Sig*) echo \"$line\" >> out;; esac; done"
              " < /proc/$$/status\n");
  const std::optional<int> code = RunToEnd("probe");

  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGUSR1, &previous, nullptr);
  close(57);
  EXPECT_EQ(code, 0);
  const std::string out = ReadFile("out");
  EXPECT_TRUE(out.starts_with("closed\n")) << out;
  const unsigned long long ignored = std::stoull(out.substr(out.find("SigIgn:") + 7), nullptr, 16);
  const unsigned long long blockedSet = std::stoull(out.substr(out.find("SigBlk:") + 7), nullptr, 16);
  EXPECT_EQ(ignored & (1ULL << (SIGUSR1 - 1)), 0u) << out;
  EXPECT_EQ(blockedSet & (1ULL << (SIGUSR2 - 1)), 0u) << out;
}

TEST_F(ProcessLauncherTest, ReplaceProcessImageRunsTheProgramInPlace) {
  WriteScript("finish", "echo replaced > out; exit 9\n");
  EXPECT_EXIT(ReplaceProcessImage("finish"), ::testing::ExitedWithCode(9), "");
  EXPECT_EQ(ReadFile("out"), "replaced\n");
}

// The new image keeps the handed-over descriptor, and with it the lock held
// on it, while other descriptors close; it gets the handed-over environment
// and its first argument as the command line writes it.
TEST_F(ProcessLauncherTest, ReplaceProcessImageHandsOverADescriptorAndTheEnvironment) {
  fs::copy_file("/bin/sh", "probe");
  WriteFile("probe.sh",
            "tr '\\000' ' ' < /proc/$$/cmdline > out; echo >> out\n"
            "[ \"$(readlink /proc/$$/fd/$1)\" = \"$(pwd -P)/the.lock\" ] && echo kept >> out\n"
            "[ -e /proc/$$/fd/57 ] && echo open >> out\n"
            "flock -n the.lock true || echo held >> out\n"
            "echo \"$HANDED_OVER\" >> out; exit 9\n");
  const auto replace = [] {
    FileLock lock;
    if (lock.Lock("the.lock") != FileLock::Result::kLocked) return;
    dup2(lock.descriptor(), 57);  // open across an exec, but not handed over
    const std::string commandLine = "probe probe.sh " + std::to_string(lock.descriptor());
    ReplaceProcessImage(commandLine, nullptr, {lock.descriptor(), {"HANDED_OVER=yes"}});
  };
  EXPECT_EXIT(replace(), ::testing::ExitedWithCode(9), "");
  const std::string out = ReadFile("out");
  EXPECT_TRUE(out.starts_with("probe probe.sh ")) << out;
  EXPECT_NE(out.find("\nkept\nheld\nyes\n"), std::string::npos) << out;
  FileLock after;
  EXPECT_EQ(after.Lock("the.lock"), FileLock::Result::kLocked);
}

TEST_F(ProcessLauncherTest, ReplaceProcessImageFailureKeepsTheProcess) {
  int error = 0;
  EXPECT_FALSE(ReplaceProcessImage("qo_missing_program.exe", &error));
  EXPECT_EQ(error, 2);
  // The exec itself fails: the interpreter is missing. Signal settings come back.
  WriteFile("broken", "#!/nonexistent/interpreter\n");
  fs::permissions("broken", fs::perms::owner_all);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  EXPECT_FALSE(ReplaceProcessImage("broken", &error));
  EXPECT_EQ(error, ENOENT);
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  sigaction(SIGPIPE, &previous, nullptr);
}
