#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "patch/ProtectedFile.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

ProtectionKey DefaultKey() {
  ProtectionKey key;
  BuildProtectionKey(key);
  return key;
}

std::string Xor(std::string bytes, const ProtectionKey& key) {
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ key[i % 128]);
  return bytes;
}

TEST(ProtectionKey, FollowsTheMicrosoftRuntimeGenerator) {
  // rand() after srand(1) in the Microsoft C runtime: 41, 18467, 6334, 26500.
  // For the default seed the values come from state = state * 214013 + 2531011
  // and (state >> 16) & 0x7FFF, worked out apart from this code.
  struct Case {
    uint32_t seed;
    size_t index;
    int byte;
  } cases[] = {
      {1, 0, 41},         {1, 1, 18467 % 255}, {1, 2, 6334 % 255}, {1, 3, 26500 % 255}, {19880731, 0, 62},
      {19880731, 1, 207}, {19880731, 2, 3},    {19880731, 3, 35},  {19880731, 100, 36}, {19880731, 127, 189},
  };
  for (const auto& c : cases) {
    ProtectionKey key;
    BuildProtectionKey(key, c.seed);
    EXPECT_EQ(key[c.index], c.byte) << c.seed << " [" << c.index << "]";
  }
  EXPECT_EQ(DefaultKey(), [] {
    ProtectionKey key;
    BuildProtectionKey(key, 19880731);
    return key;
  }());
}

TEST(ProtectedFile, ScramblingRunsOverTheWholeFileFromOffsetZero) {
  ProtectionKey key = DefaultKey();
  std::string body(60, 'a');
  std::string out = ProtectBuffer(key, body);
  ASSERT_EQ(out.size(), 160u);
  EXPECT_EQ(static_cast<uint8_t>(out[100]), 'a' ^ key[100]);
  EXPECT_EQ(static_cast<uint8_t>(out[128]), 'a' ^ key[0]);

  std::string header = Xor(out, key).substr(0, 100);
  EXPECT_EQ(header.substr(0, 16), std::string("SEPCIAL_FILE_HD\0", 16));
  EXPECT_EQ(header.substr(24, 8), "29BD981F");  // CRC-32 of 60 'a', low byte first
  EXPECT_EQ(header.substr(32), std::string(68, '\0'));
}

TEST(ProtectedFile, ReadProtectedHeaderChecksTheMagicOver16Bytes) {
  ProtectionKey key = DefaultKey();
  std::string out = ProtectBuffer(key, "x=1\n");
  auto bytes = [](const std::string& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  ProtectedHeader header{};
  ASSERT_TRUE(ReadProtectedHeader(bytes(out), key, &header));
  EXPECT_EQ(std::memcmp(header.data(), "SEPCIAL_FILE_HD", 16), 0);
  EXPECT_TRUE(ReadProtectedHeader(bytes(out), key, nullptr));
  EXPECT_FALSE(ReadProtectedHeader(bytes(out.substr(0, 99)), key, &header));
  EXPECT_FALSE(ReadProtectedHeader({}, key, nullptr));

  std::string unterminated = Xor(out, key);
  unterminated[15] = 'X';
  EXPECT_FALSE(ReadProtectedHeader(bytes(Xor(unterminated, key)), key, nullptr));

  ProtectionKey other;
  BuildProtectionKey(other, 2);
  EXPECT_FALSE(ReadProtectedHeader(bytes(out), other, nullptr));
}

class UnprotectFileTest : public testing::Test {
 protected:
  UnprotectFileTest() : cwd_(dir_.path()) {}

  TempDir dir_;
  CurrentDirScope cwd_;  // the launch log is written here
  ProtectionKey key_ = DefaultKey();
};

TEST_F(UnprotectFileTest, RoundTripAndASecondCallIsHarmless) {
  const std::string plain = "[Version]\r\nVersion=1.0.3\r\n[FileList]\r\nFileCount=0\r\n";
  WriteFile("GameInfo.ini", plain);
  ASSERT_TRUE(ProtectFile(key_, "GameInfo.ini"));
  std::string stored = ReadFile("GameInfo.ini");
  EXPECT_EQ(stored.size(), plain.size() + 100);
  EXPECT_EQ(stored, ProtectBuffer(key_, plain));

  EXPECT_TRUE(UnprotectFile(key_, "GameInfo.ini"));
  EXPECT_EQ(ReadFile("GameInfo.ini"), plain);
  EXPECT_TRUE(UnprotectFile(key_, "GameInfo.ini"));
  EXPECT_EQ(ReadFile("GameInfo.ini"), plain);
  EXPECT_FALSE(std::filesystem::exists("Launch.log"));
}

TEST_F(UnprotectFileTest, PathsInTheLaunchersFormAreAccepted) {
  WriteFile("sub/list.ini", "k=v\n");
  ASSERT_TRUE(ProtectFile(key_, "sub\\list.ini"));
  EXPECT_TRUE(UnprotectFile(key_, "sub\\list.ini"));
  EXPECT_EQ(ReadFile("sub/list.ini"), "k=v\n");
}

TEST_F(UnprotectFileTest, HeaderContentDecidesTheResult) {
  // The body "123456789" has the CRC text 2639F4CB.
  const std::string body = "123456789";
  struct Case {
    const char* name;
    std::function<void(std::string&)> change;  // applied to the plain header
    bool result;
    std::string fileAfter;  // "" = unchanged
    std::string logged;
  } cases[] = {
      {"as written", [](std::string&) {}, true, body, ""},
      {"unread bytes filled",
       [](std::string& h) {
         for (size_t i = 16; i < 24; ++i) h[i] = '\xAB';
         for (size_t i = 32; i < 100; ++i) h[i] = '\xCD';
       },
       true, body, ""},
      {"lower-case CRC", [](std::string& h) { h.replace(24, 8, "2639f4cb"); }, false, body,
       "memcmp Error strCrc = 2639F4CB cryptHead =2639f4cb"},
      {"wrong CRC with text after it", [](std::string& h) { h.replace(24, 10, "00000000zz"); }, false, body,
       "memcmp Error strCrc = 2639F4CB cryptHead =00000000zz"},
      {"no magic", [](std::string& h) { h[15] = ' '; }, true, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("Launch.log");
    std::string plainForm = Xor(ProtectBuffer(key_, body), key_);
    std::string header = plainForm.substr(0, 100);
    c.change(header);
    std::string stored = Xor(header + body, key_);
    WriteFile("desc.ini", stored);

    EXPECT_EQ(UnprotectFile(key_, "desc.ini"), c.result);
    EXPECT_EQ(ReadFile("desc.ini"), c.fileAfter.empty() ? stored : c.fileAfter);
    std::string log = ReadFile("Launch.log");
    if (c.logged.empty()) {
      EXPECT_EQ(log, "");
    } else {
      EXPECT_NE(log.find("]: " + c.logged + "\n"), std::string::npos) << log;
    }
  }
}

TEST_F(UnprotectFileTest, SizeRules) {
  // A protected file of exactly 100 bytes holds an empty body.
  std::string headerOnly = ProtectBuffer(key_, "");
  ASSERT_EQ(headerOnly.size(), 100u);
  EXPECT_EQ(Xor(headerOnly, key_).substr(24, 8), "00000000");
  WriteFile("empty.ini", headerOnly);
  EXPECT_TRUE(UnprotectFile(key_, "empty.ini"));
  EXPECT_EQ(ReadFile("empty.ini"), "");

  // 99 bytes are taken as plain even when they start with the header.
  std::string short99 = ProtectBuffer(key_, "").substr(0, 99);
  WriteFile("short.ini", short99);
  EXPECT_TRUE(UnprotectFile(key_, "short.ini"));
  EXPECT_EQ(ReadFile("short.ini"), short99);

  WriteFile("nothing.ini", "");
  EXPECT_TRUE(UnprotectFile(key_, "nothing.ini"));
}

TEST_F(UnprotectFileTest, ThirtyMebibytesAndMoreAreRefused) {
  struct Case {
    size_t size;
    bool result;
  } cases[] = {{PROTECTED_FILE_MAX - 1, true}, {PROTECTED_FILE_MAX, false}, {PROTECTED_FILE_MAX + 4096, false}};
  for (const auto& c : cases) {
    std::string protectedForm = ProtectBuffer(key_, std::string(c.size - 100, 'z'));
    WriteFile("big.ini", protectedForm);
    EXPECT_EQ(UnprotectFile(key_, "big.ini"), c.result) << c.size;
    EXPECT_EQ(std::filesystem::file_size("big.ini"), c.result ? c.size - 100 : c.size);
  }
  // The protector keeps its output below the limit, too.
  WriteFile("plain.ini", std::string(PROTECTED_FILE_MAX - 100, 'p'));
  EXPECT_FALSE(ProtectFile(key_, "plain.ini"));
  EXPECT_EQ(std::filesystem::file_size("plain.ini"), PROTECTED_FILE_MAX - 100);
}

TEST_F(UnprotectFileTest, UnreadableFilesFail) {
  EXPECT_FALSE(UnprotectFile(key_, "missing.ini"));
  EXPECT_FALSE(ProtectFile(key_, "missing.ini"));
  std::filesystem::create_directory("folder.ini");
  EXPECT_FALSE(UnprotectFile(key_, "folder.ini"));
  EXPECT_FALSE(std::filesystem::exists("missing.ini"));
}

}  // namespace
