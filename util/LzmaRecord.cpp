#include "util/LzmaRecord.h"

#include <memory>
#include <new>

#include "util/LzmaUncompress.h"

namespace {

// The calling thread's output buffer; it only grows, so repeated decodes of
// similar chunks do not allocate.
struct OutputBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;

  // Room for `size` bytes. The bytes are not cleared: a large declared length
  // costs address space, not memory, until the decoder actually writes.
  bool Reserve(size_t size) {
    if (capacity >= size) {
      return true;
    }
    const size_t rounded = (size + 3) & ~size_t{3};
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[rounded]);
    if (!grown) {
      return false;
    }
    bytes = std::move(grown);
    capacity = rounded;
    return true;
  }
};

}  // namespace

bool UnLzmaBuffer(const uint8_t* record, size_t recordLength, const uint8_t** data, size_t* length) {
  if (record == nullptr || data == nullptr || length == nullptr || recordLength < kLzmaRecordHeaderSize) {
    return false;
  }
  const size_t declared = ReadLittleEndian32(record + kLzmaRecordDecodedLengthOffset);
  if (declared > kLzmaRecordMaxDecodedLength) {
    return false;
  }
  thread_local OutputBuffer buffer;
  if (!buffer.Reserve(declared + 1)) {
    return false;
  }
  size_t produced = declared;
  size_t consumed = recordLength - kLzmaRecordHeaderSize;
  const int result = LzmaUncompress(buffer.bytes.get(), &produced, record + kLzmaRecordHeaderSize, &consumed,
                                    record + kLzmaRecordPropsOffset, kLzmaRecordPropsSize);
  // A stream that ends (with its end mark) before the declared length would
  // silently give a short file.
  if (result != kLzmaOk || produced != declared) {
    return false;
  }
  buffer.bytes[produced] = 0;
  *data = buffer.bytes.get();
  *length = produced;
  return true;
}
