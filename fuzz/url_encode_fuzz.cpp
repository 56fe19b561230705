// UrlEncode on an arbitrary URL: the host part stays as it is, the rest holds
// only the characters sent plainly and "%XX" escapes, and undoing the escapes
// gives back the UTF-8 form of the URL.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "util/Encoding.h"
#include "util/TextUtil.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // escapes use upper-case digits only
}

bool IsPlain(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         std::string_view("#&./:?@\\").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const std::string encoded = UrlEncode(url);
  const std::string utf8 = AnsiToUtf8(url);
  if (url.empty()) {
    FUZZ_CHECK(encoded.empty());
    return 0;
  }
  const size_t slash = utf8.find('/', 8);
  const size_t host = slash == std::string::npos ? 0 : slash + 1;
  FUZZ_CHECK(encoded.compare(0, host, utf8, 0, host) == 0);

  std::string decoded = utf8.substr(0, host);
  for (size_t i = host; i < encoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(encoded[i]);
    if (c != '%') {
      FUZZ_CHECK(IsPlain(c));
      decoded += static_cast<char>(c);
      continue;
    }
    FUZZ_CHECK(i + 2 < encoded.size());
    const int high = HexValue(encoded[i + 1]);
    const int low = HexValue(encoded[i + 2]);
    FUZZ_CHECK(high >= 0 && low >= 0);
    const auto byte = static_cast<unsigned char>(high * 16 + low);
    FUZZ_CHECK(!IsPlain(byte));
    decoded += static_cast<char>(byte);
    i += 2;
  }
  FUZZ_CHECK(decoded == utf8);
  return 0;
}
