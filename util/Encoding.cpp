#include "util/Encoding.h"

#include "platform/CodePage936.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// A request may not need this many units in either conversion buffer.
constexpr size_t kAnsiBufferLimit = 0x80000;

std::string_view UntilNul(std::string_view text) { return text.substr(0, text.find('\0')); }

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Appends one code point below 0x10000 (surrogates included) in one to three bytes.
void AppendUnitUtf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

size_t Utf8LengthOfUnit(char16_t u) { return u < 0x80 ? 1 : u < 0x800 ? 2 : 3; }

}  // namespace

char32_t DecodeUtf8(std::string_view text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) {
    return lead;
  }
  int more = 0;
  char32_t code = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    code = lead & 0x0F;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    code = lead & 0x07;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (; more > 0; --more) {
    if (i >= text.size()) {
      return kReplacement;
    }
    const auto next = static_cast<unsigned char>(text[i]);
    if (next < low || next > high) {
      return kReplacement;
    }
    code = (code << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
    ++i;
  }
  return code;
}

std::u16string Utf8ToWide(std::string_view text) {
  text = UntilNul(text);
  std::u16string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t code = DecodeUtf8(text, i);
    if (code >= 0x10000) {
      result += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      result += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      result += static_cast<char16_t>(code);
    }
  }
  return result;
}

std::string WideToUtf8(std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));
  std::string result;
  result.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      const char32_t code = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
      result += static_cast<char>(0xF0 | (code >> 18));
      result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      AppendUnitUtf8(result, IsHighSurrogate(unit) || IsLowSurrogate(unit) ? kReplacement : unit);
    }
  }
  return result;
}

std::string AnsiToUtf8(std::string_view text) {
  text = UntilNul(text);
  const size_t length = text.size();
  const size_t capacity = (length / 2) * 3 + 4;  // bytes, the closing NUL included
  if (length + 1 >= kAnsiBufferLimit || capacity >= kAnsiBufferLimit) {
    return std::string(kAnsiToUtf8TooLong);
  }
  // Per-thread buffers: reused across calls, so repeated conversions do not
  // allocate, and never shared between threads.
  thread_local std::u16string wide;
  thread_local std::string narrow;
  narrow.clear();
  if (DecodeCodePage936(text, wide)) {
    for (const char16_t unit : wide) {
      if (unit == 0 || narrow.size() + Utf8LengthOfUnit(unit) >= capacity) {
        break;
      }
      AppendUnitUtf8(narrow, unit);
    }
  }
  return narrow;
}
