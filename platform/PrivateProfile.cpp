#include "platform/PrivateProfile.h"

#include <cstdint>
#include <fstream>
#include <optional>

#include "platform/SystemPath.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// The value of the key, or nothing when the file, section or key is missing.
std::optional<std::string> FindValue(std::string_view section, std::string_view key, std::string_view path) {
  std::ifstream file(ToSystemPath(path), std::ios::binary);
  std::string line;
  bool first = true;
  bool inSection = false;
  while (std::getline(file, line)) {
    std::string_view text = line;
    if (first && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    first = false;
    text = Trim(text);
    if (text.starts_with('[') && text.find(']') != std::string_view::npos) {
      // Only the first section of the name is searched.
      if (inSection) return std::nullopt;
      inSection = SameName(Trim(text.substr(1, text.find(']') - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t equals = text.find('=');
    if (!SameName(Trim(text.substr(0, equals)), key)) continue;
    if (equals == std::string_view::npos) return std::string();
    return std::string(StripQuotes(Trim(text.substr(equals + 1))));
  }
  return std::nullopt;
}

std::string CutToBuffer(std::string_view text, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  return std::string(text.substr(0, bufferSize - 1));
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    size_t bufferSize, std::string_view path) {
  if (auto value = FindValue(section, key, path)) return CutToBuffer(*value, bufferSize);
  while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
  return CutToBuffer(defaultValue, bufferSize);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, std::string_view path) {
  auto value = FindValue(section, key, path);
  if (!value || value->empty()) return defaultValue;
  std::string_view text = *value;
  bool negative = false;
  if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (negative) number = 0u - number;
  return static_cast<int>(number);
}
