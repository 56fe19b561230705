// LZMA chunk records made with the LZMA SDK encoder, decoded by UnLzmaBuffer.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LzmaEnc.h"
#include "util/LzmaRecord.h"

namespace {

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc kAllocator = {Allocate, Release};

using Bytes = std::vector<uint8_t>;

// A chunk record: "LZMA", the declared length, the record length, the
// five property bytes and the stream.
Bytes MakeRecord(const std::string& data, bool endMark = false, std::optional<uint32_t> declared = {},
                 bool fastest = false) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.dictSize = 1 << 20;
  SizeT streamSize = data.size() + data.size() / 2 + 1024;
  if (fastest) {
    // Long matches over a short window: quick for a run of one byte, which
    // encodes to almost nothing.
    props.level = 0;
    props.fb = 273;
    props.dictSize = 1 << 16;
    streamSize = data.size() / 1000 + 1024;
  }
  Byte encodedProps[5];
  SizeT propsSize = sizeof(encodedProps);
  Bytes record(17 + streamSize);
  const SRes result =
      LzmaEncode(record.data() + 17, &streamSize, reinterpret_cast<const Byte*>(data.data()), data.size(), &props,
                 encodedProps, &propsSize, endMark ? 1 : 0, nullptr, &kAllocator, &kAllocator);
  EXPECT_EQ(result, SZ_OK);
  record.resize(17 + streamSize);
  const uint32_t length = declared.value_or(static_cast<uint32_t>(data.size()));
  const uint32_t recordLength = static_cast<uint32_t>(record.size());
  std::memcpy(record.data(), "LZMA", 4);
  for (int i = 0; i < 4; ++i) {
    record[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    record[8 + i] = static_cast<uint8_t>(recordLength >> (8 * i));
  }
  std::memcpy(record.data() + 12, encodedProps, 5);
  return record;
}

// Compressible but not trivial: repeated phrases with a counter.
std::string SampleData(size_t size, char salt) {
  std::string data;
  for (int i = 0; data.size() < size; ++i) {
    data += "chunk " + std::to_string(i % 97) + salt + " of the game data; ";
  }
  data.resize(size);
  return data;
}

std::string Decoded(const uint8_t* data, size_t length) {
  return std::string(reinterpret_cast<const char*>(data), length);
}

}  // namespace

TEST(LzmaRecord, RoundTrip) {
  for (const size_t size : {size_t{0}, size_t{1}, size_t{100000}, size_t{3} << 20}) {
    for (const bool endMark : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (endMark ? " with end mark" : ""));
      const std::string data = SampleData(size, 'a');
      const Bytes record = MakeRecord(data, endMark);
      const uint8_t* out = nullptr;
      size_t length = 99;
      ASSERT_TRUE(UnLzmaBuffer(record.data(), record.size(), &out, &length));
      EXPECT_EQ(length, size);
      EXPECT_EQ(Decoded(out, length), data);
      EXPECT_EQ(out[length], 0);
    }
  }
}

TEST(LzmaRecord, BadRecordsFailCleanly) {
  const std::string data = SampleData(50000, 'b');
  const Bytes good = MakeRecord(data);
  const Bytes marked = MakeRecord(data, true);
  auto cut = [](Bytes record, size_t drop) {
    record.resize(record.size() - drop);
    return record;
  };
  auto withByte = [](Bytes record, size_t at, uint8_t value) {
    record[at] = value;
    return record;
  };
  const struct {
    const char* name;
    Bytes record;
  } cases[] = {
      {"stream ends early", cut(good, 20)},
      {"stream missing", cut(good, good.size() - 17)},
      {"16 bytes", cut(good, good.size() - 16)},
      {"empty", {}},
      {"declared longer, stream ends", withByte(good, 4, static_cast<uint8_t>(data.size() + 1))},
      {"declared longer, end mark met", withByte(marked, 5, static_cast<uint8_t>((data.size() >> 8) + 1))},
      {"declared 4 GiB", MakeRecord("tiny", false, 0xFFFFFFFF)},
      {"bad properties", withByte(good, 12, 0xFF)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint8_t* out = nullptr;
    size_t length = 7;
    // A copy of exactly the record's size, so that reading past it is caught.
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[c.record.size() + (c.record.empty() ? 1 : 0)]);
    std::copy(c.record.begin(), c.record.end(), exact.get());
    EXPECT_FALSE(UnLzmaBuffer(exact.get(), c.record.size(), &out, &length));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 7u);
  }
  const uint8_t* out = nullptr;
  size_t length = 0;
  EXPECT_FALSE(UnLzmaBuffer(nullptr, good.size(), &out, &length));
  EXPECT_FALSE(UnLzmaBuffer(good.data(), good.size(), nullptr, &length));
  EXPECT_FALSE(UnLzmaBuffer(good.data(), good.size(), &out, nullptr));
}

TEST(LzmaRecord, ADeclaredLengthBeyondTheBoundFailsBeforeDecoding) {
  // Zeros compress to almost nothing, so a small record can truly decode to
  // more than the bound; it is refused all the same.
  const Bytes record = MakeRecord(std::string(kLzmaRecordMaxDecodedLength + 1, '\0'), false, {}, true);
  ASSERT_LT(record.size(), 1u << 20);
  const uint8_t* out = nullptr;
  size_t length = 7;
  EXPECT_FALSE(UnLzmaBuffer(record.data(), record.size(), &out, &length));
  EXPECT_EQ(length, 7u);
}

TEST(LzmaRecord, ShorterDeclaredLengthGivesThatMuch) {
  const std::string data = SampleData(10000, 'c');
  const Bytes record = MakeRecord(data, false, 4000);
  const uint8_t* out = nullptr;
  size_t length = 0;
  ASSERT_TRUE(UnLzmaBuffer(record.data(), record.size(), &out, &length));
  EXPECT_EQ(Decoded(out, length), data.substr(0, 4000));
}

TEST(LzmaRecord, TwoThreadsDecodeAtOnce) {
  // Each thread decodes, both wait until both have decoded, then each checks
  // its own output: with one shared buffer the later decode would overwrite
  // the earlier one's bytes.
  const std::string dataA = SampleData(400000, 'x');
  const std::string dataB = SampleData(300000, 'y');
  const Bytes recordA = MakeRecord(dataA);
  const Bytes recordB = MakeRecord(dataB);
  std::barrier decoded(2);
  auto run = [&decoded](const Bytes& record, const std::string& expected, bool& ok) {
    for (int round = 0; round < 5; ++round) {
      const uint8_t* out = nullptr;
      size_t length = 0;
      const bool result = UnLzmaBuffer(record.data(), record.size(), &out, &length);
      decoded.arrive_and_wait();
      ok = ok && result && Decoded(out, length) == expected;
      decoded.arrive_and_wait();
    }
  };
  bool okA = true;
  bool okB = true;
  std::thread a(run, std::cref(recordA), std::cref(dataA), std::ref(okA));
  std::thread b(run, std::cref(recordB), std::cref(dataB), std::ref(okB));
  a.join();
  b.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
}
