#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/PublisherCommandLine.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

struct CommandRun {
  int status;
  std::string out;
  std::string err;
};

CommandRun RunCommand(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  int status = RunPublisherCommand(arguments, out, err);
  return {status, out.str(), err.str()};
}

TEST(PublisherCommandLineTest, HelpExplainsBothCommands) {
  CommandRun run = RunCommand({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("tova-publish publish --out FOLDER"), std::string::npos);
  EXPECT_NE(run.out.find("tova-publish verify FOLDER"), std::string::npos);
  EXPECT_NE(run.out.find("--plain"), std::string::npos);
  EXPECT_TRUE(run.err.empty());
}

TEST(PublisherCommandLineTest, UnusableCommandLinesExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"publish", "--game", "1.0=x"},  // no --out
      {"publish", "--out", "t", "--game", "1.0"},
      {"publish", "--out", "t", "--game", "=x"},
      {"publish", "--out", "t", "--page-size", "12Q"},
      {"publish", "--out", "t", "--lzma-chunk", "4G"},
      {"publish", "--out", "t", "--lzma-chunk", "257M"},  // more than the launcher decodes in one record
      {"publish", "--out"},
      {"publish", "--out", "t", "--colour", "red"},
      {"verify"},
      {"verify", "a", "b"},
      {"verify", "a", "--public-key", "12ab"},
      {"verify", "a", "--signing-key", "no-such-key"},
      {"publish", "--out", "t", "--release-serial", "1K"},
      {"publish", "--out", "t", "--expiry-days", "-1"},
      {"keygen"},
      {"keygen", "--out"},
  };
  for (const auto& arguments : cases) {
    CommandRun run = RunCommand(arguments);
    EXPECT_EQ(run.status, 2) << testing::PrintToString(arguments);
    EXPECT_NE(run.err.find("--help"), std::string::npos);
  }
}

TEST(PublisherCommandLineTest, ByteSizes) {
  struct Case {
    const char* text;
    bool valid;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"4096", true, 4096},
      {"64K", true, 64 << 10},
      {"3M", true, 3 << 20},
      {"2G", true, 2ull << 30},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"17179869184G", false, 0},  // 2^64 bytes
      {"", false, 0},
      {"K", false, 0},
      {"1.5M", false, 0},
      {"-1", false, 0},
      {"10k", false, 0},
      {" 10", false, 0},
  };
  for (const Case& c : cases) {
    uint64_t bytes = 0;
    EXPECT_EQ(ParseByteSize(c.text, bytes), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
}

TEST(PublisherCommandLineTest, PublishThenVerify) {
  TempDir dir;
  testsupport::CurrentDirScope cwd(dir.path());
  auto sources = publishtest::WriteVersions(dir.path() / "game",
                                            {{"1.0", {{"a.txt", "one"}}}, {"1.1", {{"a.txt", "two"}, {"b.txt", ""}}}});
  auto launcher = publishtest::WriteVersions(dir.path() / "launcher", {publishtest::LauncherVersion()});

  CommandRun publish = RunCommand({"publish", "--out", "tree", "--plain", "--page-size", "1M", "--lzma-threshold",
                                   "64K", "--lzma-chunk", "1M", "--launcher", "2.0=" + launcher[0].folder, "--game",
                                   "1.0=" + sources[0].folder, "--game", "1.1=" + sources[1].folder});
  ASSERT_EQ(publish.status, 0) << publish.err;
  EXPECT_NE(publish.out.find("AutoPatch/AutoPatch_1.0_1.1: 1 packages"), std::string::npos) << publish.out;
  EXPECT_NE(publish.out.find("published tree"), std::string::npos);

  CommandRun verify = RunCommand({"verify", "tree"});
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_NE(verify.out.find("LauncherVersion/Launcher_2.0: 2 files as listed"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("AutoPatch/AutoPatch_1.0_1.1: turns 1.0 into 1.1"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("tree is consistent"), std::string::npos);

  // Publishing over a tree is refused; a folder without a tree fails the check.
  EXPECT_EQ(RunCommand({"publish", "--out", "tree", "--game", "1.0=" + sources[0].folder}).status, 1);
  fs::create_directory("empty");
  CommandRun empty = RunCommand({"verify", "empty"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("problem: empty holds no update-server tree"), std::string::npos) << empty.err;
}

}  // namespace
