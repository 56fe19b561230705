// Finding processes by name in /proc and ending them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"
#include "util/ProcessLookup.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// A name that no other process on the machine carries.
std::string UniqueName(const std::string& stem) { return stem + std::to_string(getpid()) + ".exe"; }

void ExpectFoundAndEnded(const std::string& name, ProcessHandle& child) {
  std::unique_ptr<ProcessHandle> found = OpenProcessByName(name);
  ASSERT_NE(found, nullptr) << name;
  EXPECT_EQ(found->pid(), child.pid());
  EXPECT_FALSE(found->ExitCode());  // not this process's child
  EXPECT_TRUE(found->Terminate());
  EXPECT_TRUE(found->Wait(-1ms));
  EXPECT_TRUE(child.Wait(-1ms));
  EXPECT_EQ(child.ExitCode(), 128 + SIGKILL);
  EXPECT_EQ(OpenProcessByName(name), nullptr);  // ended and reaped
}

}  // namespace

TEST(ProcessLookup, FindsAndEndsACopiedExecutable) {
  TempDir dir;
  const std::string name = UniqueName("qo_lookup_probe_");
  const fs::path program = dir.path() / name;
  fs::copy_file("/bin/sleep", program);
  std::unique_ptr<ProcessHandle> child = StartProcess(program.string() + " 600", "");
  // StartProcess returns once the child runs the program.
  ASSERT_NE(child, nullptr);
  // The start of the name is enough; the comparison is case-sensitive.
  EXPECT_EQ(OpenProcessByName("QO_LOOKUP_PROBE_"), nullptr);
  const std::unique_ptr<ProcessHandle> byPrefix = OpenProcessByName(name.substr(0, 20));
  ASSERT_NE(byPrefix, nullptr);
  EXPECT_EQ(byPrefix->pid(), child->pid());
  ExpectFoundAndEnded(name, *child);
}

TEST(ProcessLookup, FindsAScriptByItsFileName) {
  TempDir dir;
  const std::string name = UniqueName("qo_lookup_script_");  // longer than the kernel's 15-byte name
  const fs::path script = dir.path() / name;
  const fs::path fifo = dir.path() / "never_written";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The shell blocks opening the pipe, without starting other processes that
  // would carry the script's name for a moment.
  WriteFile(script, "#!/bin/sh\nread line < \"$1\"\n");
  fs::permissions(script, fs::perms::owner_all);
  std::unique_ptr<ProcessHandle> child = StartProcess(script.string() + " " + fifo.string(), "");
  ASSERT_NE(child, nullptr);
  ExpectFoundAndEnded(name, *child);
}

TEST(ProcessLookup, NoMatchGivesNoHandle) { EXPECT_EQ(OpenProcessByName(UniqueName("qo_no_such_process_")), nullptr); }
