// CheckIsLzma and DoUnLzma of the applier, on containers made by the LZMA SDK
// encoder through LzmaChunkWriter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "patch/QoPatchUser.h"
#include "tests/patch/PatchMaterial.h"
#include "tests/support/TempDir.h"
#include "tools/publisher/LzmaChunkWriter.h"

using patchtest::MakeLzmaContainer;
using patchtest::SampleBytes;
using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

const fs::path kUnzip = "TempUpdata/Unzip";

void PutLittleEndian32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

class LzmaExpansionTest : public ::testing::Test {
 protected:
  LzmaExpansionTest() : cwd_(dir_.path()), user_(nullptr) {}

  TempDir dir_;
  CurrentDirScope cwd_;
  QoPatchUser user_;
};

TEST_F(LzmaExpansionTest, ExpandsContainersInPlaceThroughTheWorkCopy) {
  const std::string data = SampleBytes(200 * 1024 + 5, 3);
  struct Case {
    const char* name;
    std::string container;
    std::string expanded;
  } cases[] = {
      {"one.bin", MakeLzmaContainer("single record", 1024), "single record"},
      {"dir/several.bin", MakeLzmaContainer(data, 64 * 1024), data},  // four records
      {"empty.bin", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(kUnzip / c.name, c.container);
    ASSERT_TRUE(user_.DoUnLzma(c.name));
    EXPECT_EQ(ReadFile(kUnzip / c.name), c.expanded);
    EXPECT_EQ(ReadFile(kUnzip / "Temp" / c.name), c.expanded);
  }
}

TEST_F(LzmaExpansionTest, WriterFileMatchesRecordsAndCutsAtTheChunkSize) {
  const std::string data = SampleBytes(100 * 1000, 4);
  WriteFile("plain.bin", data);
  fs::create_directories(kUnzip);
  ASSERT_TRUE(LzmaChunkWriter(40 * 1000).WriteFile("plain.bin", "TempUpdata\\Unzip\\c.bin"));
  std::string container = ReadFile(kUnzip / "c.bin");
  // Records of 40000, 40000 and 20000 decoded bytes, end to end.
  size_t position = 0;
  std::vector<uint32_t> decodedLengths;
  while (position < container.size()) {
    ASSERT_EQ(container.compare(position, 4, "LZMA"), 0);
    auto field = [&](size_t offset) {
      uint32_t value = 0;
      for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(container[position + offset + i]);
      return value;
    };
    decodedLengths.push_back(field(4));
    position += field(8);
  }
  EXPECT_EQ(position, container.size());
  EXPECT_EQ(decodedLengths, (std::vector<uint32_t>{40000, 40000, 20000}));
  ASSERT_TRUE(user_.DoUnLzma("c.bin"));
  EXPECT_EQ(ReadFile(kUnzip / "c.bin"), data);

  WriteFile("empty.bin", "");
  ASSERT_TRUE(LzmaChunkWriter().WriteFile("empty.bin", "empty.lzma"));
  EXPECT_EQ(ReadFile("empty.lzma"), "");
  EXPECT_FALSE(LzmaChunkWriter().WriteFile("missing.bin", "x.lzma"));
}

TEST_F(LzmaExpansionTest, BadContainersFailAndLeaveTheSourceUntouched) {
  const std::string two = MakeLzmaContainer(SampleBytes(3000, 5), 2000);
  const size_t second = static_cast<uint8_t>(two[8]) | static_cast<uint8_t>(two[9]) << 8;
  ASSERT_LT(second, two.size());

  struct Case {
    const char* label;
    std::string container;
  } cases[] = {
      {"second record without magic", two.substr(0, second) + "XZMA" + two.substr(second + 4)},
      {"container cut short", two.substr(0, two.size() - 1)},
      {"trailing bytes shorter than a header", two + "LZMA"},
      {"record length below the header",
       [&] {
         std::string bytes = two;
         PutLittleEndian32(bytes, 8, 16);
         return bytes;
       }()},
      {"record length past the end",
       [&] {
         std::string bytes = two;
         PutLittleEndian32(bytes, second + 8, 0xFFFFFFF0u);
         return bytes;
       }()},
      {"declared length the stream cannot give",
       [&] {
         std::string bytes = two;
         PutLittleEndian32(bytes, 4, 1 << 20);
         return bytes;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(kUnzip / "bad.bin", c.container);
    EXPECT_FALSE(user_.DoUnLzma("bad.bin"));
    EXPECT_EQ(ReadFile(kUnzip / "bad.bin"), c.container);
  }
  EXPECT_FALSE(user_.DoUnLzma("missing.bin"));
  EXPECT_FALSE(user_.DoUnLzma(""));
  EXPECT_NE(ReadFile("Launch.log").find(",LINE=611 ,Analysis Error,DoUnLzma error  Path ="), std::string::npos);
}

TEST_F(LzmaExpansionTest, CheckIsLzmaLooksAtTwelveBytes) {
  struct Case {
    std::string bytes;
    bool lzma;
    const char* logged;  // expected log text, or null
  } cases[] = {
      {std::string("LZMA") + std::string(8, '\0'), true, nullptr},
      {"LZMB" + std::string(8, 'x'), false, nullptr},
      {"lzma" + std::string(8, 'x'), false, nullptr},
      {"LZMA" + std::string(7, 'x'), false, ",LINE=591 ,Analysis Error, file read error  Path =probe.bin"},
  };
  for (const auto& c : cases) {
    fs::remove("Launch.log");
    WriteFile("probe.bin", c.bytes);
    EXPECT_EQ(user_.CheckIsLzma("probe.bin"), c.lzma) << c.bytes.size();
    if (c.logged != nullptr) {
      EXPECT_NE(ReadFile("Launch.log").find(c.logged), std::string::npos);
    }
  }
  EXPECT_FALSE(user_.CheckIsLzma("missing.bin"));
  EXPECT_NE(ReadFile("Launch.log").find(",LINE=575 ,Analysis Error, CheckIsLzma error  Path =missing.bin"),
            std::string::npos);
}

}  // namespace
