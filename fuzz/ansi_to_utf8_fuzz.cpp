// AnsiToUtf8 on arbitrary code page 936 bytes: the output stays within its
// limit, holds no NUL, and where it holds no surrogate (the only units encoded
// outside UTF-8's rules) it is well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "util/Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  const std::string utf8 = AnsiToUtf8(text);
  if (text.size() >= 349524) {
    FUZZ_CHECK(utf8 == kAnsiToUtf8TooLong);
    return 0;
  }
  FUZZ_CHECK(utf8.size() <= (text.size() / 2) * 3 + 3);
  FUZZ_CHECK(utf8.find('\0') == std::string::npos);
  // Surrogates are the only units whose three-byte form starts with 0xED 0xA0..0xBF.
  bool surrogate = false;
  for (size_t i = 0; i + 1 < utf8.size(); ++i)
    surrogate |= static_cast<unsigned char>(utf8[i]) == 0xED && static_cast<unsigned char>(utf8[i + 1]) >= 0xA0;
  if (!surrogate) FUZZ_CHECK(WideToUtf8(Utf8ToWide(utf8)) == utf8);
  return 0;
}
