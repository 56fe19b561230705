#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "util/LaunchLog.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// The message part of every line, without the time stamp.
std::vector<std::string> Messages(const std::string& log) {
  static const std::regex line(R"(\[\d\d_\d\d:\d\d:\d\d\]: (.*))");
  std::vector<std::string> out;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    std::smatch m;
    std::string text = log.substr(start, end - start);
    EXPECT_TRUE(std::regex_match(text, m, line)) << text;
    out.push_back(m[1]);
    start = end + 1;
  }
  return out;
}

}  // namespace

TEST(LaunchLog, AppendsStampedLinesAndCreatesTheFile) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  EXPECT_EQ(WriteLaunchLog("first %d", 1), 0);
  EXPECT_EQ(WriteLaunchLog("PatchUser return: %d", 7), 0);
  EXPECT_EQ(Messages(ReadFile("Launch.log")), (std::vector<std::string>{"first 1", "PatchUser return: 7"}));
}

TEST(LaunchLog, CutsMessagesAt1023Bytes) {
  struct Case {
    size_t length;
    size_t written;
  } cases[] = {{1023, 1023}, {1024, 1023}, {5000, 1023}, {0, 0}};
  for (const auto& c : cases) {
    TempDir dir;
    CurrentDirScope cwd(dir.path());
    WriteLaunchLog("%s", std::string(c.length, 'x').c_str());
    auto messages = Messages(ReadFile("Launch.log"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].size(), c.written) << c.length;
  }
}

TEST(LaunchLog, PercentInsideAnArgumentIsWrittenUnchanged) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  WriteLaunchLog("FILE=%s,LINE=%d ,%s", "Procedure\\ProcedureGamePatch.cpp", 42, "100%d %s");
  EXPECT_EQ(Messages(ReadFile("Launch.log"))[0], "FILE=Procedure\\ProcedureGamePatch.cpp,LINE=42 ,100%d %s");
}

TEST(LaunchLog, FailureLinesBeginWithSourceAndLineAndAreCutAsAWhole) {
  using Writer = int (*)(const char*, int, const char*, ...);
  const std::string common = "FILE=s.cpp,LINE=7 ,";
  const std::string spaced = "FILE =s.cpp, Line =7,";
  const std::string longName(1100, 's');
  struct Case {
    const char* name;
    Writer write;
    std::string source;
    int line;
    std::string message;
    std::string expected;
  } cases[] = {
      {"common form", WriteSourceLineLog, "Procedure\\ProcedureGamePatch.cpp", 42, "100%d %s",
       "FILE=Procedure\\ProcedureGamePatch.cpp,LINE=42 ,100%d %s"},
      {"spaced form", WriteSourceLineLogSpaced, "transfer\\CAutoDownload_Curl.cpp", 210, "DownFile Error ErrorCode =5",
       "FILE =transfer\\CAutoDownload_Curl.cpp, Line =210,DownFile Error ErrorCode =5"},
      {"empty message", WriteSourceLineLog, "a.cpp", 0, "", "FILE=a.cpp,LINE=0 ,"},
      {"common line of 1023 bytes is whole", WriteSourceLineLog, "s.cpp", 7, std::string(1023 - common.size(), 'x'),
       common + std::string(1023 - common.size(), 'x')},
      {"common line of 1024 bytes loses its last", WriteSourceLineLog, "s.cpp", 7,
       std::string(1024 - common.size(), 'x'), common + std::string(1023 - common.size(), 'x')},
      {"spaced line of 5000 bytes", WriteSourceLineLogSpaced, "s.cpp", 7, std::string(5000, 'x'),
       spaced + std::string(1023 - spaced.size(), 'x')},
      {"common cut inside the source name", WriteSourceLineLog, longName, 7, "tail",
       "FILE=" + longName.substr(0, 1018)},
      {"spaced cut inside the line number part", WriteSourceLineLogSpaced, longName.substr(0, 1013), 123, "tail",
       "FILE =" + longName.substr(0, 1013) + ", Li"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CurrentDirScope cwd(dir.path());
    EXPECT_EQ(c.write(c.source.c_str(), c.line, "%s", c.message.c_str()), 0);
    EXPECT_EQ(Messages(ReadFile("Launch.log")), std::vector<std::string>{c.expected});
  }
}

TEST(LaunchLog, UnwritableLogLosesTheLineSilently) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  // A folder in the log's place cannot be opened as a file, even by root.
  mkdir("Launch.log", 0755);
  EXPECT_EQ(WriteLaunchLog("lost"), 0);
}

TEST(LaunchLog, LinesFromManyThreadsStayWhole) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) WriteLaunchLog("thread %d line %d %s", t, i, std::string(200, 'a' + t).c_str());
    });
  for (auto& th : threads) th.join();
  auto messages = Messages(ReadFile("Launch.log"));
  ASSERT_EQ(messages.size(), 400u);
  for (const auto& m : messages) {
    char letter = m.back();
    EXPECT_EQ(m.substr(m.size() - 200), std::string(200, letter));
  }
}
