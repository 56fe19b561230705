#include "tools/publisher/TreeCompare.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

bool ListFolderFiles(const std::string& folder, std::map<std::string, std::string>& files,
                     std::string_view ignoredTop) {
  std::error_code code;
  fs::recursive_directory_iterator it(folder, code), end;
  for (; !code && it != end; it.increment(code)) {
    std::string name = it->path().lexically_relative(folder).generic_string();
    if (!ignoredTop.empty() && it.depth() == 0 && name == ignoredTop) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(code)) files.emplace(std::move(name), it->path().string());
  }
  return !code;
}

bool SameFileBytes(const std::string& first, const std::string& second) {
  std::ifstream a(first, std::ios::binary), b(second, std::ios::binary);
  if (!a.is_open() || !b.is_open()) return false;
  std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
  for (;;) {
    a.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
    b.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
    if (a.bad() || b.bad() || a.gcount() != b.gcount()) return false;
    if (!std::equal(bufferA.begin(), bufferA.begin() + a.gcount(), bufferB.begin())) return false;
    if (a.eof() || b.eof()) return a.eof() && b.eof();
  }
}

std::vector<std::string> CompareFolders(const std::string& expected, const std::string& actual,
                                        std::string_view ignoredTop) {
  std::map<std::string, std::string> want, have;
  if (!ListFolderFiles(expected, want)) return {"cannot read the folder " + expected};
  if (!ListFolderFiles(actual, have, ignoredTop)) return {"cannot read the folder " + actual};

  std::vector<std::string> differences;
  for (const auto& [name, path] : want) {
    auto it = have.find(name);
    if (it == have.end())
      differences.push_back(name + " is missing");
    else if (!SameFileBytes(path, it->second))
      differences.push_back(name + " differs");
  }
  for (const auto& [name, path] : have) {
    if (want.count(name) == 0) differences.push_back(name + " should not be there");
  }
  return differences;
}
