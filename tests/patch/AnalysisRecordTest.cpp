#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "patch/AnalysisRecord.h"
#include "patch/QoPatchUser.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string Bytes(const char* text, size_t length) { return std::string(text, length); }

const std::string kCopy = Bytes("QOCP\0", 5);
const std::string kDelta = Bytes("QOXD\0", 5);
const std::string kRest = Bytes("QORS\0", 5);

TEST(AnalysisRecord, MarkersAreRemovedOnlyInTheirOrder) {
  struct Case {
    const char* label;
    std::string file;
    std::string payload;
    bool delta;
  } cases[] = {
      {"no marker", "plain", "plain", false},
      {"copy", kCopy + "x", "x", false},
      {"delta", kDelta + "vcd", "vcd", true},
      {"rest", kRest + "x", "x", false},
      {"all three", kCopy + kDelta + kRest + "x", "x", true},
      {"copy rest", kCopy + kRest + kDelta + "x", kDelta + "x", false},
      {"rest before delta", kRest + kDelta + "x", kDelta + "x", false},
      {"delta before copy", kDelta + kCopy + "x", kCopy + "x", true},
      {"copy twice", kCopy + kCopy + "x", kCopy + "x", false},
      {"marker without its zero", "QOXDx", "QOXDx", false},
      {"cut marker", "QOX", "QOX", false},
      {"marker only", kDelta, "", true},
      {"empty", "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    AnalysisHeader header = ParseAnalysisHeader({reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size()});
    EXPECT_EQ(c.file.substr(header.length), c.payload);
    EXPECT_EQ(header.delta, c.delta);
  }
}

TEST(AnalysisRecord, DoAnalysisFileWritesThePayloadAndTheDeltaFlag) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  QoPatchUser user(nullptr);

  const std::string big = patchtest::SampleBytes(3 << 20, 11);
  WriteFile("delta.bin", kCopy + kDelta + big);
  ASSERT_TRUE(user.DoAnalysisFile("delta.bin", "out\\sub\\delta.bin"));
  EXPECT_TRUE(user.m_bUserXdel());
  EXPECT_EQ(ReadFile("out/sub/delta.bin"), big);

  // The flag is cleared for the next file; an existing target is replaced.
  WriteFile("plain.bin", "short");
  ASSERT_TRUE(user.DoAnalysisFile("plain.bin", "out\\sub\\delta.bin"));
  EXPECT_FALSE(user.m_bUserXdel());
  EXPECT_EQ(ReadFile("out/sub/delta.bin"), "short");

  WriteFile("empty.bin", "");
  ASSERT_TRUE(user.DoAnalysisFile("empty.bin", "out\\empty.bin"));
  ASSERT_TRUE(fs::exists("out/empty.bin"));
  EXPECT_EQ(fs::file_size("out/empty.bin"), 0u);

  // The target is made anew: a second name of the old target keeps its data.
  fs::create_hard_link("out/sub/delta.bin", "other-name.bin");
  ASSERT_TRUE(user.DoAnalysisFile("delta.bin", "out\\sub\\delta.bin"));
  EXPECT_EQ(ReadFile("other-name.bin"), "short");

  EXPECT_FALSE(user.DoAnalysisFile("missing.bin", "out\\x.bin"));
  EXPECT_FALSE(user.DoAnalysisFile("", "out\\x.bin"));
  EXPECT_FALSE(user.DoAnalysisFile("plain.bin", ""));
  // A folder has no size to copy.
  fs::create_directories("folder");
  EXPECT_FALSE(user.DoAnalysisFile("folder", "out\\x.bin"));
}

}  // namespace
