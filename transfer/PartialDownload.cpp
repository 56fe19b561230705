#include "transfer/PartialDownload.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <system_error>

#include "platform/AsciiText.h"
#include "platform/SystemPath.h"
#include "util/FileTransfer.h"
#include "util/FileUtil.h"

namespace {

constexpr std::string_view kRecordSuffix = ".part";
// A record is a few lines; anything larger is not one.
constexpr uint64_t kMaxRecordBytes = 16 * 1024;
// Smaller files are fetched again sooner than a note is written for them.
constexpr uint64_t kRunningNoteMinBytes = 1024 * 1024;

// Fields of the record file, one "name=value" line each, in this order.
constexpr std::string_view kFields[] = {"url", "local", "held", "length", "etag", "lastModified"};

bool ParseNumber(std::string_view text, uint64_t& value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

std::string FormatRecord(const PartialDownload& record) {
  const std::string values[] = {
      record.url,  record.localPath,   std::to_string(record.held), std::to_string(record.fullLength),
      record.etag, record.lastModified};
  std::string text;
  for (size_t i = 0; i < std::size(kFields); ++i) text += std::string(kFields[i]) + "=" + values[i] + "\n";
  return text;
}

std::optional<PartialDownload> ParseRecord(std::string_view text) {
  std::string values[std::size(kFields)];
  for (size_t i = 0; i < std::size(kFields); ++i) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!line.starts_with(kFields[i]) || line.substr(kFields[i].size(), 1) != "=") return std::nullopt;
    values[i] = line.substr(kFields[i].size() + 1);
  }
  PartialDownload record{values[0], values[1], 0, 0, values[4], values[5]};
  if (!text.empty() || !ParseNumber(values[2], record.held) || !ParseNumber(values[3], record.fullLength)) {
    return std::nullopt;
  }
  return record;
}

// The file's size; -1 when it is not a regular file.
int64_t RegularFileSize(const std::string& path) {
  struct stat info {};
  if (::lstat(ToSystemPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

// A transfer stopped after its last byte holds the whole file: it is kept as
// well, and resumed from its last byte (TakePartialDownload), which shows
// whether it is still the server's file.
bool Usable(const PartialDownload& record) {
  return !record.Validator().empty() && record.held > 0 && record.held <= record.fullLength;
}

// Replaced whole, so that a record is either whole or absent.
bool WriteRecord(const std::string& temporaryPath, const PartialDownload& record) {
  const std::string text = FormatRecord(record);
  FileReplacement file(PartialRecordPath(temporaryPath), 0600);
  return file.valid() && WriteFileBytes(file.fd(), text.data(), text.size()) && file.Commit();
}

// The record beside `temporaryPath` when it reads whole and matches the file;
// a running note takes the file's size as the bytes held.
std::optional<PartialDownload> MatchingRecord(const std::string& temporaryPath) {
  std::string text;
  if (!ReadSmallFile(PartialRecordPath(temporaryPath), kMaxRecordBytes, text)) return std::nullopt;
  std::optional<PartialDownload> record = ParseRecord(text);
  if (!record) return std::nullopt;
  const int64_t size = RegularFileSize(temporaryPath);
  if (record->held == 0 && size > 0) record->held = static_cast<uint64_t>(size);
  if (!Usable(*record) || size != static_cast<int64_t>(record->held)) return std::nullopt;
  return record;
}

}  // namespace

std::string PartialRecordPath(std::string_view temporaryPath) {
  return std::string(temporaryPath) + std::string(kRecordSuffix);
}

std::optional<PartialDownload> TakePartialDownload(const std::string& temporaryPath, const std::string& localPath,
                                                   uint64_t maxBytes) {
  std::optional<PartialDownload> record = MatchingRecord(temporaryPath);
  if (record && (record->localPath != localPath || record->fullLength > maxBytes)) record.reset();
  if (record && record->held == record->fullLength) {
    --record->held;
    if (::truncate(ToSystemPath(temporaryPath).c_str(), static_cast<off_t>(record->held)) != 0) record.reset();
  }
  if (record) {
    DeleteFile(PartialRecordPath(temporaryPath), ReadOnlyFile::kDelete);
  } else {
    DiscardPartialDownload(temporaryPath);
  }
  return record;
}

bool KeepPartialDownload(const std::string& temporaryPath, PartialDownload record) {
  const int64_t size = RegularFileSize(temporaryPath);
  record.held = size > 0 ? static_cast<uint64_t>(size) : 0;
  if (Usable(record) && WriteRecord(temporaryPath, record)) return true;
  DiscardPartialDownload(temporaryPath);
  return false;
}

void NoteRunningDownload(const std::string& temporaryPath, PartialDownload record) {
  if (record.Validator().empty() || record.fullLength < kRunningNoteMinBytes) return;
  record.held = 0;
  // Without the note the bytes are only lost if the launcher is killed.
  static_cast<void>(WriteRecord(temporaryPath, record));
}

void DiscardPartialDownload(const std::string& temporaryPath) {
  DeleteFile(temporaryPath, ReadOnlyFile::kDelete);
  DeleteFile(PartialRecordPath(temporaryPath), ReadOnlyFile::kDelete);
}

void CleanScratchFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(ToSystemPath(folder), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::string temporaryPath = folder + "/" + name;
    const bool isRecord = name.ends_with(kRecordSuffix);
    const std::string partial =
        isRecord ? temporaryPath.substr(0, temporaryPath.size() - kRecordSuffix.size()) : temporaryPath;
    if (MatchingRecord(partial)) continue;
    if (it->is_directory(error) && !it->is_symlink(error)) {
      static_cast<void>(DeleteDirectoryTree(temporaryPath));  // what remains fails its transfer's own file
    } else {
      DeleteFile(temporaryPath, ReadOnlyFile::kDelete);
    }
  }
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  value = Trim(value);
  constexpr std::string_view kUnit = "bytes ";
  if (!value.starts_with(kUnit)) return std::nullopt;
  value.remove_prefix(kUnit.size());
  const size_t dash = value.find('-');
  const size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
  ContentRange range;
  if (!ParseNumber(value.substr(0, dash), range.first) ||
      !ParseNumber(value.substr(dash + 1, slash - dash - 1), range.last) ||
      !ParseNumber(value.substr(slash + 1), range.length) || range.first > range.last || range.last >= range.length) {
    return std::nullopt;
  }
  return range;
}
