#include "telemetry/SerialText.h"

namespace {

bool IsLatin1Alnum(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
  return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

// A hex digit's value; any other character (or none) counts as 0.
unsigned HexDigitAt(std::string_view text, size_t at) {
  if (at >= text.size()) return 0;
  char c = text[at];
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}

}  // namespace

std::string TrimToAlnum(std::string_view text) {
  if (text.empty() || IsLatin1Alnum(static_cast<unsigned char>(text.front()))) return std::string(text);
  while (!text.empty() && !IsLatin1Alnum(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  while (!text.empty() && !IsLatin1Alnum(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return std::string(text);
}

std::string DecodeHexSerial(std::string_view text) {
  std::string out;
  for (size_t group = 0; group < text.size(); group += 4) {
    for (size_t pair : {group + 2, group}) {
      unsigned byte = HexDigitAt(text, pair) * 16 + HexDigitAt(text, pair + 1);
      if (byte != 0) out += static_cast<char>(byte);
    }
  }
  return out;
}
