#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "patch/checksum/QoChecksum.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestBytes.h"

using testsupport::CurrentDirScope;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::RunShell;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct Algorithm {
  const char* name;
  const QoChecksum& (*get)();
  size_t digestSize;
  int type;
};

const Algorithm kAlgorithms[] = {
    {"CRC", GetCrcChecksum, 4, 1},
    {"MD5", GetMd5Checksum, 16, 3},
    {"SHA1", GetSha1Checksum, 20, 3},
    {"SHA256", GetSha256Checksum, 32, 3},
};

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// Bit-by-bit CRC-32 (reflected 0xEDB88320), as an independent reference.
uint32_t ReferenceCrc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Hex text of the CRC, least significant byte first.
std::string CrcText(uint32_t crc) {
  uint8_t bytes[4] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc >> 16),
                      static_cast<uint8_t>(crc >> 24)};
  return Hex(bytes, 4);
}

// First word of a "sum file" tool's output, upper case.
std::string ToolDigest(const std::string& tool, const std::string& path, const TempDir& dir) {
  std::string outPath = (dir.path() / "tool.out").string();
  EXPECT_EQ(RunShell(tool + " '" + path + "' > '" + outPath + "'"), 0);
  std::string out = ReadFile(outPath);
  return ToUpper(out.substr(0, out.find(' ')));
}

}  // namespace

TEST(QoChecksum, SharedInstancesAndTypes) {
  for (const auto& a : kAlgorithms) {
    EXPECT_EQ(&a.get(), &a.get()) << a.name;
    EXPECT_EQ(a.get().GetType(), a.type) << a.name;
  }
  EXPECT_NE(static_cast<const void*>(&GetMd5Checksum()), static_cast<const void*>(&GetSha1Checksum()));
}

TEST(QoChecksum, KnownDigestsOfBuffersStringsAndFiles) {
  struct Case {
    const QoChecksum& (*get)();
    std::string input;
    std::string bufferHex;  // also the file form
    std::string stringHex;
  } cases[] = {
      {GetCrcChecksum, "123456789", "2639F4CB", "2639F4CB"},
      {GetCrcChecksum, "a", "43BEB7E8", "43BEB7E8"},
      {GetMd5Checksum, "abc", "900150983CD24FB0D6963F7D28E17F72", "900150983CD24FB0D6963F7D28E17F72"},
      {GetMd5Checksum, "message digest", "F96B697D7CB7938D525A2F31AAF161D0", "F96B697D7CB7938D525A2F31AAF161D0"},
      {GetSha1Checksum, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {GetSha256Checksum, "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
       "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
  };
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const auto& c : cases) {
    const QoChecksum& sum = c.get();
    std::string buffer = "prefix:";
    ASSERT_TRUE(sum.MakeBufferHex(c.input.data(), c.input.size(), buffer)) << c.input;
    EXPECT_EQ(buffer, "prefix:" + c.bufferHex);  // appended, earlier text kept

    std::string text;
    ASSERT_TRUE(sum.MakeStringHex(c.input, text));
    EXPECT_EQ(text, c.stringHex);

    WriteFile(dir.path() / "data" / "input.bin", c.input);
    std::string file;
    ASSERT_TRUE(sum.MakeFileHex("data\\input.bin", file));  // system path form
    EXPECT_EQ(file, c.bufferHex);

    uint8_t fromBuffer[QoChecksum::kLargestDigestSize] = {}, fromString[QoChecksum::kLargestDigestSize] = {},
            fromFile[QoChecksum::kLargestDigestSize] = {};
    ASSERT_TRUE(sum.MakeBufferDigest(c.input.data(), c.input.size(), fromBuffer));
    ASSERT_TRUE(sum.MakeStringDigest(c.input, fromString));
    ASSERT_TRUE(sum.MakeFileDigest("data\\input.bin", fromFile));
    size_t size = c.bufferHex.size() / 2;
    EXPECT_EQ(Hex(fromBuffer, size), c.bufferHex);
    EXPECT_EQ(Hex(fromString, size), c.bufferHex);
    EXPECT_EQ(Hex(fromFile, size), c.bufferHex);
  }
}

TEST(QoChecksum, CrcFileDigestIsLeastSignificantByteFirst) {
  TempDir dir;
  WriteFile(dir.path() / "digits", "123456789");
  uint8_t digest[5] = {0, 0, 0, 0, 0x77};
  ASSERT_TRUE(GetCrcChecksum().MakeFileDigest((dir.path() / "digits").string(), digest));
  const uint8_t expected[5] = {0x26, 0x39, 0xF4, 0xCB, 0x77};  // nothing written past 4 bytes
  EXPECT_EQ(0, memcmp(digest, expected, 5));
}

TEST(QoChecksum, EmptyFileHasTheDigestOfNothing) {
  TempDir dir;
  WriteFile(dir.path() / "empty", "");
  const std::string path = (dir.path() / "empty").string();
  const std::pair<const QoChecksum& (*)(), std::string> cases[] = {
      {GetCrcChecksum, "00000000"},
      {GetMd5Checksum, "D41D8CD98F00B204E9800998ECF8427E"},
      {GetSha1Checksum, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
  };
  for (const auto& [get, expected] : cases) {
    std::string hex;
    EXPECT_TRUE(get().MakeFileHex(path, hex));
    EXPECT_EQ(hex, expected);
    uint8_t digest[QoChecksum::kLargestDigestSize];
    EXPECT_TRUE(get().MakeFileDigest(path, digest));
    EXPECT_EQ(Hex(digest, expected.size() / 2), expected);
  }
}

TEST(QoChecksum, RefusedInputsLeaveOutputsUnchanged) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing.bin").string();
  const std::string folder = dir.str();
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const char data[] = "abc";
  for (const auto& a : kAlgorithms) {
    const QoChecksum& sum = a.get();
    SCOPED_TRACE(a.name);
    std::string out = "keep";
    uint8_t digest[QoChecksum::kLargestDigestSize];
    memset(digest, 0x5A, sizeof digest);

    EXPECT_FALSE(sum.MakeFileHex(missing, out));
    EXPECT_FALSE(sum.MakeFileDigest(missing, digest));
    EXPECT_FALSE(sum.MakeFileHex(folder, out));
    EXPECT_FALSE(sum.MakeFileDigest(folder, digest));
    EXPECT_FALSE(sum.MakeFileHex(fifo, out));  // refused at once, without waiting for a writer
    EXPECT_FALSE(sum.MakeFileHex("", out));
    EXPECT_FALSE(sum.MakeFileDigest("", digest));

    EXPECT_FALSE(sum.MakeBufferDigest(data, 0, digest));
    EXPECT_FALSE(sum.MakeBufferDigest(nullptr, 3, digest));
    EXPECT_FALSE(sum.MakeBufferDigest(data, 3, nullptr));
    EXPECT_FALSE(sum.MakeBufferHex(data, 0, out));
    EXPECT_FALSE(sum.MakeBufferHex(nullptr, 3, out));
    EXPECT_FALSE(sum.MakeStringDigest("", digest));
    EXPECT_FALSE(sum.MakeStringDigest("abc", nullptr));
    EXPECT_FALSE(sum.MakeStringHex("", out));

    EXPECT_EQ(out, "keep");
    for (uint8_t byte : digest) EXPECT_EQ(byte, 0x5A);
  }
}

TEST(QoChecksum, ReadErrorFails) {
  // Opening succeeds but reading from offset 0 fails with EIO.
  std::string out;
  EXPECT_FALSE(GetMd5Checksum().MakeFileHex("/proc/self/mem", out));
  EXPECT_EQ(out, "");
}

// Files much larger than one read block, with sizes that end inside a block,
// against independent tools and a bit-by-bit CRC.
TEST(QoChecksum, LargeFilesMatchIndependentDigests) {
  TempDir dir;
  for (size_t size : {size_t{9} * 1024 * 1024 + 7, size_t{2} * 1024 * 1024 + 1}) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size, 1234);
    const std::string path = (dir.path() / "large.bin").string();
    WriteFile(path, bytes);

    std::string crc, md5, sha1, sha256;
    ASSERT_TRUE(GetCrcChecksum().MakeFileHex(path, crc));
    ASSERT_TRUE(GetMd5Checksum().MakeFileHex(path, md5));
    ASSERT_TRUE(GetSha1Checksum().MakeFileHex(path, sha1));
    ASSERT_TRUE(GetSha256Checksum().MakeFileHex(path, sha256));
    EXPECT_EQ(crc, CrcText(ReferenceCrc32(bytes)));
    EXPECT_EQ(md5, ToolDigest("md5sum", path, dir));
    EXPECT_EQ(sha1, ToolDigest("sha1sum", path, dir));
    EXPECT_EQ(sha256, ToolDigest("sha256sum", path, dir));
  }
}

TEST(QoChecksum, SharedInstancesHashConcurrently) {
  TempDir dir;
  constexpr int kThreads = 4;
  std::vector<std::string> paths, expected(kThreads), got(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    std::string bytes = RandomBytes(300 * 1024 + t, 1234) + std::to_string(t);
    paths.push_back((dir.path() / ("f" + std::to_string(t))).string());
    WriteFile(paths.back(), bytes);
    ASSERT_TRUE(GetMd5Checksum().MakeBufferHex(bytes.data(), bytes.size(), expected[t]));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        std::string hex;
        if (!GetMd5Checksum().MakeFileHex(paths[t], hex) || (round > 0 && hex != got[t])) {
          got[t] = "mismatch";
          return;
        }
        got[t] = hex;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(got, expected);
}
