#include "tools/publisher/LzmaChunkWriter.h"

#include <LzmaEnc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/SystemPath.h"
#include "util/LzmaRecord.h"

namespace {

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }
ISzAlloc gAllocator = {Allocate, Release};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

LzmaChunkWriter::LzmaChunkWriter(uint32_t chunkSize, int level)
    : chunkSize_(chunkSize == 0 ? 1 : chunkSize), level_(level) {}

bool LzmaChunkWriter::AppendRecord(std::span<const uint8_t> data, std::string& out) const {
  if (data.size() > kLzmaRecordMaxDecodedLength) return false;
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level_;
  props.reduceSize = static_cast<UInt32>(data.size());
  props.numThreads = 1;

  size_t capacity = LzmaStreamBound(data.size());
  std::vector<uint8_t> record(kLzmaRecordHeaderSize + capacity);
  SizeT streamLength = capacity;
  SizeT propsLength = LZMA_PROPS_SIZE;
  SRes result = LzmaEncode(record.data() + kLzmaRecordHeaderSize, &streamLength, data.data(), data.size(), &props,
                           record.data() + kLzmaRecordPropsOffset, &propsLength, 0, nullptr, &gAllocator, &gAllocator);
  if (result != SZ_OK || propsLength != LZMA_PROPS_SIZE) return false;
  size_t recordLength = kLzmaRecordHeaderSize + streamLength;

  std::copy(std::begin(kLzmaRecordMagic), std::end(kLzmaRecordMagic), record.begin());
  WriteLittleEndian32(record.data() + kLzmaRecordDecodedLengthOffset, static_cast<uint32_t>(data.size()));
  WriteLittleEndian32(record.data() + kLzmaRecordLengthOffset, static_cast<uint32_t>(recordLength));
  out.append(reinterpret_cast<const char*>(record.data()), recordLength);
  return true;
}

bool LzmaChunkWriter::WriteFile(std::string_view source, std::string_view target) const {
  File in(std::fopen(ToSystemPath(source).c_str(), "rb"));
  if (!in) return false;
  File out(std::fopen(ToSystemPath(target).c_str(), "wb"));
  if (!out) return false;

  std::vector<uint8_t> piece(chunkSize_);
  std::string record;
  for (;;) {
    size_t got = std::fread(piece.data(), 1, piece.size(), in.get());
    if (got == 0) break;
    record.clear();
    if (!AppendRecord({piece.data(), got}, record)) return false;
    if (std::fwrite(record.data(), 1, record.size(), out.get()) != record.size()) return false;
  }
  if (std::ferror(in.get())) return false;
  return std::fclose(out.release()) == 0;
}
