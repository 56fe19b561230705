#include "tools/publisher/PatchBuilder.h"

#include <map>
#include <set>
#include <string_view>

#include "patch/StagingNames.h"
#include "tools/publisher/ZipPageWriter.h"

namespace {

// A name of `from` that `to` turns from a folder into a file: the applier
// deletes files but never folders, so the new file could not be placed.
std::string FindFolderTurnedFile(const std::vector<SourceFile>& from, const std::vector<SourceFile>& to) {
  std::set<std::string> folders;
  for (const SourceFile& file : from) AddParentFolders(file.name, folders);
  for (const SourceFile& file : to) {
    if (folders.count(file.name) != 0) return file.name;
  }
  return {};
}

PatchFileInfo DeletedFile(const SourceFile& file) { return {file.name, PATCH_FILE_DELETE, 0, "0", file.md5}; }

PatchFileInfo CarriedFile(const SourceFile* previous, const SourceFile& next) {
  if (previous == nullptr) return {next.name, PATCH_FILE_NEW, 0, next.md5, "0"};
  return {next.name, PATCH_FILE_UPDATE, 0, next.md5, previous->md5};
}

}  // namespace

bool BuildPatchPackages(const PatchSide& from, const PatchSide& to, const std::string& patchFolder,
                        const std::string& workFolder, const PatchSettings& settings,
                        std::vector<PackageInfo>& packages, std::string& error) {
  packages.clear();
  if (std::string name = FindFolderTurnedFile(*from.files, *to.files); !name.empty()) {
    error = "the folder " + name + " becomes a file; the launcher cannot apply that as a patch";
    return false;
  }

  std::map<std::string_view, const SourceFile*> previous;
  for (const SourceFile& file : *from.files) previous.emplace(file.name, &file);
  std::vector<PatchFileInfo> deleted;
  std::set<std::string_view> kept;
  for (const SourceFile& file : *to.files) kept.insert(file.name);
  for (const SourceFile& file : *from.files) {
    if (kept.count(file.name) == 0) deleted.push_back(DeletedFile(file));
  }

  // The carried files in name order, the list last; the list always travels
  // whole, since the installed list may have been written in the other form.
  std::vector<std::pair<const SourceFile*, const SourceFile*>> carried;  // previous, next
  for (const SourceFile& file : *to.files) {
    auto it = previous.find(file.name);
    const SourceFile* old = it == previous.end() ? nullptr : it->second;
    if (old != nullptr && old->size == file.size && old->md5 == file.md5) continue;
    carried.emplace_back(old, &file);
  }
  carried.emplace_back(&from.list, &to.list);

  std::vector<ZipPageEntry> entries;
  std::vector<StagedFile> staged;
  std::vector<PatchFileInfo> infos;
  for (size_t i = 0; i < carried.size(); ++i) {
    auto [old, next] = carried[i];
    bool isList = i + 1 == carried.size();
    AnalysisFile analysis;
    if (!MakeAnalysisFile(isList ? nullptr : old, *next, workFolder + "/file" + std::to_string(i), settings.analysis,
                          analysis, error))
      return false;
    entries.push_back({next->name, analysis.path, analysis.lzma});
    staged.push_back({next->name, analysis.lzma});
    infos.push_back(CarriedFile(old, *next));
  }
  if (std::string why = FindStagingConflict(staged); !why.empty()) {
    error = why;
    return false;
  }

  std::vector<ZipPage> pages;
  if (!WriteZipPages(entries, patchFolder, "package", settings.maxPackageSize, workFolder + "/packages.zip", pages,
                     error))
    return false;
  for (size_t p = 0; p < pages.size(); ++p) {
    PackageInfo package;
    package.fileName = pages[p].fileName;
    package.extra = static_cast<int32_t>(pages[p].size);
    package.packageMd5 = pages[p].md5;
    if (p == 0) package.files = std::move(deleted);
    for (size_t index : pages[p].entries) package.files.push_back(infos[index]);
    package.fileCount = static_cast<int32_t>(package.files.size());
    packages.push_back(std::move(package));
  }
  return true;
}
