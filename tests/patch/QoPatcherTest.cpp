#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "patch/QoPatcher_xdelta.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/TempDir.h"

using patchtest::MakeMarkedDelta;
using patchtest::PathScope;
using patchtest::SampleBytes;
using patchtest::XdeltaRecorder;
using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::RunShell;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

class QoPatcherTest : public ::testing::Test {
 protected:
  QoPatcherTest() : cwd_(dir_.path()) {
    WriteFile("src/old.bin", oldBytes_);
    WriteFile("new.bin", newBytes_);
    // A bare delta, as the analysis step leaves it after removing the marker.
    WriteFile("delta.vcd", MakeMarkedDelta(oldBytes_, newBytes_).substr(5));
  }

  QoPatcher& patcher() { return QoPatcher_xdelta::GetInstance(); }

  TempDir dir_;
  CurrentDirScope cwd_;
  const std::string oldBytes_ = SampleBytes(300 * 1024, 1);
  const std::string newBytes_ = SampleBytes(100 * 1024, 1) + "inserted" + SampleBytes(220 * 1024, 2);
};

TEST_F(QoPatcherTest, ApplyDeltaRunsXdelta3WithTheDecodeArgumentsAndReplacesTheTarget) {
  XdeltaRecorder recorder(dir_.path() / "bin");
  WriteFile("out.bin", "an older file in the way");

  ASSERT_EQ(patcher().ApplyDelta("src\\old.bin", "delta.vcd", "out.bin"), 0);

  EXPECT_EQ(ReadFile("out.bin"), newBytes_);
  EXPECT_EQ(recorder.Calls(),
            (std::vector<std::vector<std::string>>{{"-v", "-d", "-s", "src/old.bin", "delta.vcd", "out.bin"}}));
  EXPECT_EQ(patcher().GetType(), 2);
  EXPECT_EQ(&QoPatcher_xdelta::GetInstance(), &patcher());
}

TEST_F(QoPatcherTest, FailuresReturnTwoWithALogLine) {
  // A source of other content: xdelta3 reports a checksum mismatch.
  WriteFile("wrong.bin", SampleBytes(300 * 1024, 9));
  EXPECT_EQ(patcher().ApplyDelta("wrong.bin", "delta.vcd", "out.bin"), 2);
  const std::string log = ReadFile("Launch.log");
  EXPECT_NE(log.find("FILE =patch\\QoPatcher_xdelta.cpp, Line =122,xdelta Fail ErrorCode = "), std::string::npos)
      << log;
  EXPECT_NE(log.find("xdelta3: "), std::string::npos) << log;

  WriteFile("garbage.vcd", "not a delta");
  EXPECT_EQ(patcher().ApplyDelta("src\\old.bin", "garbage.vcd", "out2.bin"), 2);

  // Without the program on PATH the call fails cleanly.
  fs::create_directories("nothing");
  {
    PathScope path((dir_.path() / "nothing").string());
    EXPECT_EQ(patcher().ApplyDelta("src\\old.bin", "delta.vcd", "out3.bin"), 2);
    EXPECT_EQ(patcher().MakeDelta("src\\old.bin", "new.bin", "made.vcd"), 2);
  }
  EXPECT_NE(ReadFile("Launch.log").find(",xdelta3 cannot be started ErrorCode = 2"), std::string::npos);
  EXPECT_FALSE(fs::exists("out3.bin"));
}

TEST_F(QoPatcherTest, MakeDeltaWritesAMarkedDeltaThatXdelta3Decodes) {
  XdeltaRecorder recorder(dir_.path() / "bin");
  WriteFile("made.vcd", "an older delta");

  ASSERT_EQ(patcher().MakeDelta("src\\old.bin", "new.bin", "made.vcd"), 0);

  const std::string made = ReadFile("made.vcd");
  ASSERT_EQ(made.substr(0, 5), std::string("QOXD\0", 5));
  EXPECT_FALSE(fs::exists("made.vcd.part"));
  WriteFile("bare.vcd", made.substr(5));
  ASSERT_EQ(RunShell("xdelta3 -d -s src/old.bin bare.vcd rebuilt.bin"), 0);
  EXPECT_EQ(ReadFile("rebuilt.bin"), newBytes_);
  EXPECT_EQ(recorder.Calls(),
            (std::vector<std::vector<std::string>>{{"-v", "-e", "-s", "src/old.bin", "new.bin", "made.vcd.part"},
                                                   {"-d", "-s", "src/old.bin", "bare.vcd", "rebuilt.bin"}}));

  EXPECT_EQ(patcher().MakeDelta("src\\missing.bin", "new.bin", "made.vcd"), 2);
}

}  // namespace
