#include "util/TextUtil.h"

#include <algorithm>
#include <cstdio>

#include "util/Encoding.h"

namespace {

// Characters UrlEncode sends as they are, besides ASCII letters and digits.
constexpr std::string_view kUrlPlainPunctuation = "#&./:?@\\";

// The host part ends at the first "/" from this index, past the "//" of the scheme.
constexpr size_t kHostSearchStart = 8;

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

void RemoveBlanks(std::string& text) {
  std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

int SplitByComma(std::vector<std::string>& list, std::string_view text) {
  list.clear();
  text = text.substr(0, text.find('\0'));
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    if (!piece.empty()) {
      list.emplace_back(piece);
    }
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return static_cast<int>(list.size());
}

std::string BackslashToSlash(std::string_view text) {
  std::string result(text);
  for (size_t i = 0; i < result.size(); ++i) {
    const auto c = static_cast<unsigned char>(result[i]);
    if (c >= 0x81 && c <= 0xFE) {
      ++i;  // first byte of a double-byte character: skip its second byte
    } else if (c == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

std::string UrlEncode(std::string_view url) {
  if (url.empty()) {
    return {};
  }
  const std::string text = AnsiToUtf8(url);
  const size_t hostEnd = text.find('/', kHostSearchStart);
  const size_t plain = hostEnd == std::string::npos ? 0 : hostEnd + 1;
  std::string result = text.substr(0, plain);
  for (size_t i = plain; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsAsciiAlnum(c) || kUrlPlainPunctuation.find(static_cast<char>(c)) != std::string_view::npos) {
      result += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      result += escaped;
    }
  }
  return result;
}

std::string FormatByteSize(int64_t bytes) {
  struct Unit {
    int64_t size;
    const char* format;
  };
  static constexpr Unit kUnits[] = {
      {int64_t{1} << 40, "%.1fT"}, {int64_t{1} << 30, "%.1fG"}, {int64_t{1} << 20, "%.1fM"}, {1024, "%.1fK"}};
  char text[64];
  for (const Unit& unit : kUnits) {
    if (bytes >= unit.size) {
      std::snprintf(text, sizeof(text), unit.format, static_cast<double>(bytes) / static_cast<double>(unit.size));
      return text;
    }
  }
  std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(bytes));
  return text;
}
