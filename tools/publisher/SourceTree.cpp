#include "tools/publisher/SourceTree.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "patch/checksum/QoChecksum.h"
#include "tools/publisher/PublishRules.h"
#include "tools/publisher/ServerLayout.h"

namespace fs = std::filesystem;

bool DescribeFile(const std::string& name, const std::string& path, SourceFile& file, std::string& error) {
  std::error_code code;
  uintmax_t size = fs::file_size(path, code);
  if (code) {
    error = "cannot read " + path + ": " + code.message();
    return false;
  }
  if (size > static_cast<uintmax_t>(kMaxPublishedSize)) {
    error = path + " is larger than " + std::to_string(kMaxPublishedSize) + " bytes";
    return false;
  }
  file = SourceFile{name, path, static_cast<int64_t>(size), {}, {}};
  if (!GetMd5Checksum().MakeFileHex(path, file.md5) || !GetCrcChecksum().MakeFileHex(path, file.crc)) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool ScanSourceTree(const std::string& folder, std::vector<SourceFile>& files, std::string& error) {
  files.clear();
  std::error_code code;
  fs::recursive_directory_iterator it(folder, code), end;
  if (code) {
    error = "cannot read the folder " + folder + ": " + code.message();
    return false;
  }
  std::vector<std::pair<std::string, std::string>> found;  // name, path
  for (; it != end; it.increment(code)) {
    if (code) break;
    const fs::path& path = it->path();
    fs::file_status status = it->symlink_status(code);
    if (code) break;
    if (fs::is_directory(status)) continue;
    std::string name = path.lexically_relative(folder).generic_string();
    if (!fs::is_regular_file(status)) {
      error = path.string() + " is not a regular file or folder";
      return false;
    }
    if (name == kVersionListName) continue;
    if (std::string why = CheckFileName(name); !why.empty()) {
      error = "cannot publish " + path.string() + ": " + why;
      return false;
    }
    found.emplace_back(std::move(name), path.string());
  }
  if (code) {
    error = "cannot read the folder " + folder + ": " + code.message();
    return false;
  }

  std::sort(found.begin(), found.end());
  files.reserve(found.size());
  for (auto& [name, path] : found) {
    SourceFile file;
    if (!DescribeFile(name, path, file, error)) return false;
    files.push_back(std::move(file));
  }
  return true;
}
