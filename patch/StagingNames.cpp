#include "patch/StagingNames.h"

#include <map>
#include <set>
#include <string_view>

#include "patch/SafeName.h"

namespace {

// Relative to "TempUpdata\", as the applier lays them out (QoPatchUser).
constexpr std::string_view kUnzipFolder = "Unzip/";
constexpr std::string_view kLzmaWorkFolder = "Unzip/Temp/";

}  // namespace

void AddParentFolders(std::string_view path, std::set<std::string>& folders) {
  for (size_t at = path.find('/'); at != std::string_view::npos; at = path.find('/', at + 1))
    folders.emplace(path.substr(0, at));
}

std::string FindStagingConflict(const std::vector<StagedFile>& files) {
  std::map<std::string, std::string> owners;  // staging path -> file name
  std::set<std::string> folders;
  for (const StagedFile& file : files) {
    const std::string name = FileSystemName(file.name);
    std::vector<std::string> paths = {std::string(kUnzipFolder) + name, name};
    if (file.lzma) paths.push_back(std::string(kLzmaWorkFolder) + name);
    for (std::string& path : paths) {
      AddParentFolders(path, folders);
      auto [it, added] = owners.emplace(std::move(path), file.name);
      if (!added)
        return "the files " + it->second + " and " + file.name + " would meet in the applier's staging folder";
    }
  }
  for (const auto& [path, owner] : owners) {
    if (folders.count(path) != 0)
      return "the file " + owner + " would take the place of a folder in the applier's staging folder";
  }
  return {};
}
