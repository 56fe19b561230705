// UnLzmaBuffer on an arbitrary chunk record. A decoded record holds exactly
// the length its header declares, followed by a NUL.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "util/LzmaRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* decoded = nullptr;
  size_t length = 0;
  if (!UnLzmaBuffer(data, size, &decoded, &length)) {
    FUZZ_CHECK(decoded == nullptr && length == 0);
    return 0;
  }
  FUZZ_CHECK(size >= 17);
  const uint32_t declared = static_cast<uint32_t>(data[4]) | static_cast<uint32_t>(data[5]) << 8 |
                            static_cast<uint32_t>(data[6]) << 16 | static_cast<uint32_t>(data[7]) << 24;
  FUZZ_CHECK(length == declared && decoded[length] == 0);
  return 0;
}
