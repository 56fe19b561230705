// Writer of LZMA chunk containers (layout in util/LzmaRecord.h); each record's
// stream is written without an end mark.
// The object holds only settings; any thread may use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class LzmaChunkWriter {
 public:
  static constexpr uint32_t kDefaultChunkSize = 8u << 20;

  // `chunkSize`: decoded bytes per record (1 to kLzmaRecordMaxDecodedLength);
  // `level`: the LZMA SDK's compression level, 0 to 9.
  explicit LzmaChunkWriter(uint32_t chunkSize = kDefaultChunkSize, int level = 5);

  // Appends the record holding `data` (at most kLzmaRecordMaxDecodedLength
  // bytes, the most the launcher decodes in one record) to `out`.
  // False, with `out` unchanged, when `data` is longer or the encoder fails.
  bool AppendRecord(std::span<const uint8_t> data, std::string& out) const;

  // Writes the container of the file `source` to `target` ("\" form),
  // replacing it: one record per `chunkSize` bytes, none for an empty file.
  // False when a file cannot be read or written or a record cannot be made;
  // `target` may then hold a part of the container.
  bool WriteFile(std::string_view source, std::string_view target) const;

 private:
  uint32_t chunkSize_;
  int level_;
};
