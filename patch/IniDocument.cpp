#include "patch/IniDocument.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "platform/AsciiText.h"
#include "platform/SystemPath.h"

namespace {

// Splits at the first occurrence of `separator`: both sides trimmed; without
// the separator the left side is the whole text and the right side is empty.
// The right side starts after the separator's first character.
std::pair<std::string, std::string> Split(std::string_view text, std::string_view separator) {
  size_t at = text.find(separator);
  if (at == std::string_view::npos) return {std::string(Trim(text)), std::string()};
  return {std::string(Trim(text.substr(0, at))), std::string(Trim(text.substr(at + 1)))};
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens a regular file (or anything but a folder) for reading.
FilePtr OpenForReading(const std::string& path) {
  FilePtr file(std::fopen(ToSystemPath(path).c_str(), "rb"));
  struct stat info {};
  if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) file.reset();
  return file;
}

// Reads one line up to LF (the LF is dropped). False at the end of the file
// or on a read error when nothing was read.
bool ReadLine(FILE* file, std::string& line) {
  line.clear();
  int c;
  while ((c = getc_unlocked(file)) != EOF) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  return !line.empty();
}

}  // namespace

IniDocument::IniDocument(std::string commentMarker) : commentMarker_(std::move(commentMarker)) {}

int IniDocument::Fail(int code, std::string message) {
  errorMessage_ = std::move(message);
  return code;
}

void IniDocument::Release() {
  filePath_.clear();
  sections_.clear();
  firstEntry_.clear();
}

int IniDocument::Load(const std::string& path) {
  Release();
  filePath_ = path;

  FilePtr file = OpenForReading(path);
  if (!file) return Fail(INI_OPEN_FAILED, "open" + path + " file failed");

  sections_.push_back(IniSection{});
  firstEntry_.emplace_back();
  std::string pendingComment;
  std::string line;
  while (ReadLine(file.get(), line)) {
    std::string trimmed(Trim(line));
    if (trimmed.empty()) {
      pendingComment += "\n";
      continue;
    }
    if (trimmed.compare(0, commentMarker_.size(), commentMarker_) == 0) {
      pendingComment += trimmed + "\n";
      continue;
    }
    auto [content, rightComment] = Split(trimmed, commentMarker_);

    if (content.starts_with('[')) {
      size_t close = content.find(']');
      if (close == std::string::npos) return Fail(INI_NO_CLOSING_BRACKET, "no matched ] found");
      if (close == 1) return Fail(INI_EMPTY_SECTION_NAME, "section name is empty");
      std::string name(Trim(std::string_view(content).substr(1, close - 1)));
      for (const IniSection& section : sections_) {
        if (section.name == name) return Fail(INI_DUPLICATE_SECTION, "section " + name + "already exist");
      }
      sections_.push_back(IniSection{std::move(name), std::move(pendingComment), std::move(rightComment), {}});
      firstEntry_.emplace_back();
    } else {
      if (content.find('=') == std::string::npos) return Fail(INI_BAD_LINE, "parse line failed:" + content);
      auto [key, value] = Split(content, "=");
      auto& entries = sections_.back().entries;
      firstEntry_.back().try_emplace(key, entries.size());
      entries.push_back(IniEntry{std::move(key), std::move(value), std::move(pendingComment), std::move(rightComment)});
    }
    pendingComment.clear();
  }
  return INI_OK;
}

int IniDocument::GetValue(std::string_view section, std::string_view key, std::string& value, std::string* comment) {
  for (size_t s = 0; s < sections_.size(); ++s) {
    if (sections_[s].name != section) continue;
    auto found = firstEntry_[s].find(std::string(key));
    if (found == firstEntry_[s].end()) return Fail(INI_KEY_NOT_FOUND, "not find the key " + std::string(key));
    const IniEntry& entry = sections_[s].entries[found->second];
    value = entry.value;
    if (comment != nullptr) *comment = entry.comment;
    return INI_OK;
  }
  return Fail(INI_SECTION_NOT_FOUND, "not find the section " + std::string(section));
}

int IniDocument::GetIntValue(std::string_view section, std::string_view key, int& number) {
  std::string value;
  int code = GetValue(section, key, value);
  number = IniToInt(value);
  return code;
}

int IniToInt(std::string_view text) {
  text = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{INT_MAX} + 1) break;  // clamped below
  }
  int64_t number = negative ? -magnitude : magnitude;
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}
