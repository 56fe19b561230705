// The files of one version as the publisher finds them in a folder: the
// content of a launcher or game version, from which lists, repair folders,
// installation pages and patches are made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SourceFile {
  std::string name;  // relative to the version's folder, "/" separators
  std::string path;  // where the bytes are read from
  int64_t size = 0;
  std::string md5;  // 32 upper-case hex digits
  std::string crc;  // 8 upper-case hex digits, least significant byte first
};

// Describes the file at `path` under `name`: size, MD5 and CRC texts. False
// with `error` when it cannot be read or is larger than kMaxPublishedSize.
[[nodiscard]] bool DescribeFile(const std::string& name, const std::string& path, SourceFile& file, std::string& error);

// Every file below `folder`, sorted by name (byte-wise), except a version
// file list "GameInfo.ini" directly in the folder, which the publisher writes
// itself. Empty folders are not represented. False with `error` when the
// folder cannot be read, an entry is neither a regular file nor a folder
// (symbolic links included), a name cannot be published (CheckFileName), or a
// file cannot be described.
[[nodiscard]] bool ScanSourceTree(const std::string& folder, std::vector<SourceFile>& files, std::string& error);
