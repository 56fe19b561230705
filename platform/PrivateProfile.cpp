#include "platform/PrivateProfile.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>

#include "platform/AsciiText.h"
#include "platform/SystemPath.h"

namespace {

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Reads the file line by line, calling `onSection(name)` for each section
// header and `onEntry(key, value)` for each other line after the first header
// (a line without "=" is a key with an empty value), names and value trimmed
// and the value unquoted. Either returning true ends the read.
template <typename OnSection, typename OnEntry>
void ReadLines(std::string_view path, OnSection onSection, OnEntry onEntry) {
  std::ifstream file(ToSystemPath(path), std::ios::binary);
  std::string line;
  bool first = true;
  bool afterHeader = false;
  while (std::getline(file, line)) {
    std::string_view text = line;
    if (first && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    first = false;
    text = Trim(text);
    if (text.starts_with('[') && text.find(']') != std::string_view::npos) {
      afterHeader = true;
      if (onSection(Trim(text.substr(1, text.find(']') - 1)))) return;
      continue;
    }
    if (!afterHeader) continue;
    size_t equals = text.find('=');
    std::string_view value =
        equals == std::string_view::npos ? std::string_view() : StripQuotes(Trim(text.substr(equals + 1)));
    if (onEntry(Trim(text.substr(0, equals)), value)) return;
  }
}

// The value of the key, or nothing when the file, section or key is missing.
std::optional<std::string> FindValue(std::string_view section, std::string_view key, std::string_view path) {
  std::optional<std::string> found;
  bool inSection = false;
  ReadLines(
      path,
      [&](std::string_view name) {
        // Only the first section of the name is searched.
        if (inSection) return true;
        inSection = EqualsIgnoreCase(name, section);
        return false;
      },
      [&](std::string_view name, std::string_view value) {
        if (!inSection || !EqualsIgnoreCase(name, key)) return false;
        found = std::string(value);
        return true;
      });
  return found;
}

std::string CutToBuffer(std::string_view text, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  return std::string(text.substr(0, bufferSize - 1));
}

std::string DefaultString(std::string_view defaultValue, size_t bufferSize) {
  while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
  return CutToBuffer(defaultValue, bufferSize);
}

// The leading integer of a value that is present; `defaultValue` when it is empty.
int ProfileInt(std::string_view text, int defaultValue) {
  if (text.empty()) return defaultValue;
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

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    size_t bufferSize, std::string_view path) {
  if (auto value = FindValue(section, key, path)) return CutToBuffer(*value, bufferSize);
  return DefaultString(defaultValue, bufferSize);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, std::string_view path) {
  auto value = FindValue(section, key, path);
  return value ? ProfileInt(*value, defaultValue) : defaultValue;
}

PrivateProfileSnapshot::PrivateProfileSnapshot(std::string_view path) {
  Section* current = nullptr;
  ReadLines(
      path,
      [&](std::string_view name) {
        // A later section of a name already seen is never searched.
        auto [it, added] = sections_.try_emplace(ToLowerAscii(name));
        current = added ? &it->second : nullptr;
        if (added) sectionOrder_.push_back(it->first);
        return false;
      },
      [&](std::string_view name, std::string_view value) {
        if (current == nullptr) return false;
        std::string lower = ToLowerAscii(name);
        if (current->values.try_emplace(lower, value).second) current->keys.push_back(std::move(lower));
        return false;
      });
}

const std::string* PrivateProfileSnapshot::Find(std::string_view section, std::string_view key) const {
  auto found = sections_.find(ToLowerAscii(section));
  if (found == sections_.end()) return nullptr;
  auto value = found->second.values.find(ToLowerAscii(key));
  return value == found->second.values.end() ? nullptr : &value->second;
}

std::string PrivateProfileSnapshot::GetString(std::string_view section, std::string_view key,
                                              std::string_view defaultValue, size_t bufferSize) const {
  const std::string* value = Find(section, key);
  return value != nullptr ? CutToBuffer(*value, bufferSize) : DefaultString(defaultValue, bufferSize);
}

int PrivateProfileSnapshot::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
  const std::string* value = Find(section, key);
  return value != nullptr ? ProfileInt(*value, defaultValue) : defaultValue;
}

std::vector<std::string> PrivateProfileSnapshot::Keys(std::string_view section) const {
  auto found = sections_.find(ToLowerAscii(section));
  return found == sections_.end() ? std::vector<std::string>() : found->second.keys;
}

std::vector<int> NumberedIndices(const std::vector<std::string>& names, std::string_view prefix, int count) {
  std::vector<int> indices;
  for (const std::string& name : names) {
    if (!name.starts_with(prefix)) continue;
    std::string_view digits = std::string_view(name).substr(prefix.size());
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0') ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
      continue;
    int64_t index = 0;
    for (char c : digits) index = index * 10 + (c - '0');
    if (index < count) indices.push_back(static_cast<int>(index));
  }
  std::sort(indices.begin(), indices.end());
  return indices;
}
