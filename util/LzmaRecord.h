// Decoding of one LZMA chunk record: offset 4 holds the uncompressed length
// (32-bit little-endian), offsets 12 to 16 the five LZMA property bytes, and
// the compressed stream runs from offset 17 to the end of the record.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes the record into the calling thread's own output buffer, which grows
// on demand and is reused by that thread's next call. On success `*data`
// points at exactly the declared number of bytes, followed by one NUL byte,
// `*length` holds that number, and the bytes stay valid until the same
// thread's next call (other threads' calls do not touch them).
// False (outputs unchanged) when an argument is null, the record is shorter
// than 17 bytes, the buffer cannot be allocated, the decoder reports an error
// (including a stream that ends early) or the stream ends before the declared
// length is produced.
[[nodiscard]] bool UnLzmaBuffer(const uint8_t* record, size_t recordLength, const uint8_t** data, size_t* length);
