// The LZMA chunk container, the form in which a patch package carries a large
// file: the file cut into pieces, each piece one record laid end to end with
// the next. A record is
//   offset  0: "LZMA"
//   offset  4: decoded length (32-bit little-endian)
//   offset  8: record length including this 17-byte header (32-bit LE)
//   offset 12: the five LZMA property bytes
//   offset 17: the raw LZMA stream, to the end of the record.
// Every record decodes on its own, so a reader needs memory for one piece.
// The applier reads this layout and the publisher writes it; both take it
// from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr char kLzmaRecordMagic[4] = {'L', 'Z', 'M', 'A'};
inline constexpr size_t kLzmaRecordDecodedLengthOffset = 4;
inline constexpr size_t kLzmaRecordLengthOffset = 8;
inline constexpr size_t kLzmaRecordPropsOffset = 12;
inline constexpr size_t kLzmaRecordPropsSize = 5;
inline constexpr size_t kLzmaRecordHeaderSize = kLzmaRecordPropsOffset + kLzmaRecordPropsSize;
// The most a record may decode to. The publisher writes pieces of 8 MiB; a
// record declaring more than this is refused before any memory is reserved
// for it (a small record of zeros may truly decode to gigabytes).
inline constexpr size_t kLzmaRecordMaxDecodedLength = size_t{256} << 20;

// The room an encoder needs for the stream of `decodedLength` bytes (the LZMA
// SDK's bound for incompressible input), and so the longest record that a
// reader need accept.
inline constexpr size_t LzmaStreamBound(size_t decodedLength) { return decodedLength + decodedLength / 3 + 128; }
inline constexpr size_t kLzmaRecordMaxLength = kLzmaRecordHeaderSize + LzmaStreamBound(kLzmaRecordMaxDecodedLength);

inline uint32_t ReadLittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void WriteLittleEndian32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// True when `bytes` (of `length`) begin with the record magic "LZMA".
inline bool HasLzmaRecordMagic(const void* bytes, size_t length) {
  return length >= sizeof kLzmaRecordMagic && std::memcmp(bytes, kLzmaRecordMagic, sizeof kLzmaRecordMagic) == 0;
}

// Decodes the record into the calling thread's own output buffer, which grows
// on demand and is reused by that thread's next call. On success `*data`
// points at exactly the declared number of bytes, followed by one NUL byte,
// `*length` holds that number, and the bytes stay valid until the same
// thread's next call (other threads' calls do not touch them).
// False (outputs unchanged) when an argument is null, the record is shorter
// than 17 bytes, it declares more than kLzmaRecordMaxDecodedLength (nothing is
// reserved for it), the buffer cannot be allocated, the decoder reports an error
// (including a stream that ends early) or the stream ends before the declared
// length is produced.
[[nodiscard]] bool UnLzmaBuffer(const uint8_t* record, size_t recordLength, const uint8_t** data, size_t* length);
