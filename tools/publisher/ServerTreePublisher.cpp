#include "tools/publisher/ServerTreePublisher.h"

#include <stdlib.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "tools/publisher/PatchBuilder.h"
#include "tools/publisher/PublishRules.h"
#include "tools/publisher/ServerLayout.h"
#include "tools/publisher/ServerTexts.h"
#include "tools/publisher/SourceTree.h"
#include "tools/publisher/ZipPageWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kTreeFilePermissions =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

// One version as it stands in the tree: its files and its published list.
struct PublishedVersion {
  std::string version;
  std::vector<SourceFile> files;
  SourceFile list;
};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool CheckVersions(const std::vector<VersionSource>& versions, const char* kind, std::string& error) {
  std::set<std::string> seen;
  for (const VersionSource& source : versions) {
    if (std::string why = CheckVersionText(source.version); !why.empty()) {
      error = std::string(kind) + " version \"" + source.version + "\": " + why;
      return false;
    }
    if (!seen.insert(source.version).second) {
      error = std::string(kind) + " version " + source.version + " is given twice";
      return false;
    }
    std::error_code code;
    if (!fs::is_directory(source.folder, code)) {
      error = std::string(kind) + " version " + source.version + ": " + source.folder + " is not a folder";
      return false;
    }
  }
  return true;
}

bool CheckSettings(const PublishSettings& settings, std::string& error) {
  if (settings.launcherVersions.empty() && settings.gameVersions.empty()) {
    error = "no launcher or game version to publish";
    return false;
  }
  if (settings.maxPackageSize == 0 || settings.lzmaChunkSize == 0) {
    error = "the package size and the LZMA chunk size must be at least 1";
    return false;
  }
  // The launcher's own helpers take "\" for a separator.
  for (const auto* versions : {&settings.launcherVersions, &settings.gameVersions}) {
    for (const VersionSource& source : *versions) {
      if (source.folder.find('\\') != std::string::npos) {
        error = "the folder " + source.folder + " holds a '\\'";
        return false;
      }
    }
  }
  if (settings.outputFolder.empty() || settings.outputFolder.find('\\') != std::string::npos) {
    error = "the output folder must be given, without '\\'";
    return false;
  }
  std::error_code code;
  if (fs::exists(settings.outputFolder, code) &&
      (!fs::is_directory(settings.outputFolder, code) || !fs::is_empty(settings.outputFolder, code))) {
    error = settings.outputFolder + " exists and is not an empty folder";
    return false;
  }
  return CheckVersions(settings.launcherVersions, "launcher", error) &&
         CheckVersions(settings.gameVersions, "game", error);
}

bool CheckLauncherFiles(const std::vector<SourceFile>& files, std::string& error) {
  for (const SourceFile& file : files) {
    if (std::string why = CheckLauncherFileName(file.name); !why.empty()) {
      error = "cannot publish " + file.path + ": " + why;
      return false;
    }
  }
  return true;
}

class TreeWriter {
 public:
  TreeWriter(const PublishSettings& settings, std::string root)
      : settings_(settings), root_(std::move(root)), work_(root_ + "/.publish-work") {}

  bool Write(std::string& error) {
    if (!MakeFolder(work_, error)) return false;
    if (!settings_.launcherVersions.empty()) {
      std::vector<PublishedVersion> launcher;
      if (!WriteListFolders(LauncherTreeLayout(), settings_.launcherVersions, true, launcher, error)) return false;
    }
    if (!settings_.gameVersions.empty()) {
      std::vector<PublishedVersion> game;
      if (!WriteListFolders(GameTreeLayout(), settings_.gameVersions, false, game, error) ||
          !WriteInstallFolders(game, error) || !WritePatches(game, error))
        return false;
    }
    std::error_code code;
    fs::remove_all(work_, code);
    return true;
  }

 private:
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void Report(const std::string& line) const {
    if (settings_.progress) settings_.progress(line);
  }

  static bool MakeFolder(const std::string& folder, std::string& error) {
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) error = "cannot create " + folder + ": " + code.message();
    return !code;
  }

  // Server files are plain readable files, whatever the input's permissions.
  static bool CopyToTree(const std::string& source, const std::string& target, std::string& error) {
    std::error_code code;
    fs::create_directories(fs::path(target).parent_path(), code);
    if (!code) fs::copy_file(source, target, code);
    if (!code) fs::permissions(target, kTreeFilePermissions, code);
    if (code) error = "cannot copy " + source + " to " + target + ": " + code.message();
    return !code;
  }

  bool WriteVersionFile(const VersionTreeLayout& layout, const std::string& version, std::string& error) {
    return WriteServerText(Path(layout.versionFile), FormatVersionFile(version), false, error);
  }

  // Launcher_<V>/ (`launcher`) or Game_<V>/: every file at its name, and the list.
  bool WriteListFolders(const VersionTreeLayout& layout, const std::vector<VersionSource>& sources, bool launcher,
                        std::vector<PublishedVersion>& published, std::string& error) {
    for (const VersionSource& source : sources) {
      PublishedVersion version{source.version, {}, {}};
      if (!ScanSourceTree(source.folder, version.files, error)) return false;
      if (launcher && !CheckLauncherFiles(version.files, error)) return false;
      const std::string folder = Path(layout.Folder(source.version));
      if (!MakeFolder(folder, error)) return false;
      for (const SourceFile& file : version.files) {
        if (!CopyToTree(file.path, folder + "/" + file.name, error)) return false;
      }
      const std::string list = folder + "/" + kVersionListName;
      if (!WriteServerText(list, FormatVersionList(source.version, version.files), settings_.protect, error) ||
          !DescribeFile(kVersionListName, list, version.list, error))
        return false;
      Report(layout.Folder(source.version) + ": " + std::to_string(version.files.size()) + " files");
      published.push_back(std::move(version));
    }
    return WriteVersionFile(layout, sources.back().version, error);
  }

  // InstallPage_<V>/: the pages hold every file and, in the last page, the
  // list, so that an installation interrupted between pages leaves no list.
  bool WriteInstallFolders(const std::vector<PublishedVersion>& game, std::string& error) {
    const VersionTreeLayout layout = InstallTreeLayout();
    for (const PublishedVersion& version : game) {
      const std::string folder = Path(layout.Folder(version.version));
      if (!MakeFolder(folder, error)) return false;
      std::vector<ZipPageEntry> entries;
      std::vector<const SourceFile*> files;
      for (const SourceFile& file : version.files) files.push_back(&file);
      files.push_back(&version.list);
      for (const SourceFile* file : files) entries.push_back({file->name, file->path, false});

      std::vector<ZipPage> pages;
      if (!WriteZipPages(entries, folder, "page", settings_.maxPackageSize, work_ + "/install.zip", pages, error))
        return false;
      std::vector<PackageInfo> packages;
      for (const ZipPage& page : pages) {
        PackageInfo package;
        package.fileName = page.fileName;
        package.extra = static_cast<int32_t>(page.size);
        package.packageMd5 = page.md5;
        for (size_t index : page.entries)
          package.files.push_back({files[index]->name, PATCH_FILE_NEW, 0, files[index]->md5, "0"});
        packages.push_back(std::move(package));
      }
      if (!WriteServerText(folder + "/" + InstallDescriptionName(version.version),
                           FormatDescription(version.version, version.version, packages), false, error))
        return false;
      Report(layout.Folder(version.version) + ": " + std::to_string(pages.size()) + " pages");
    }
    return WriteVersionFile(layout, game.back().version, error);
  }

  bool WritePatches(const std::vector<PublishedVersion>& game, std::string& error) {
    std::vector<PatchStep> steps;
    PatchSettings patchSettings{settings_.maxPackageSize, {settings_.lzmaThreshold, settings_.lzmaChunkSize}};
    for (size_t i = 1; i < game.size(); ++i) {
      const PublishedVersion& from = game[i - 1];
      const PublishedVersion& to = game[i];
      const std::string relative = PatchFolder(from.version, to.version);
      const std::string folder = Path(relative);
      const std::string work = work_ + "/patch";
      if (!MakeFolder(folder, error) || !MakeFolder(work, error)) return false;
      std::vector<PackageInfo> packages;
      if (!BuildPatchPackages({&from.files, from.list}, {&to.files, to.list}, folder, work, patchSettings, packages,
                              error)) {
        error = "patch " + from.version + " -> " + to.version + ": " + error;
        return false;
      }
      if (!WriteServerText(folder + "/" + PatchDescriptionName(from.version, to.version),
                           FormatDescription(from.version, to.version, packages), settings_.protect, error))
        return false;
      std::error_code code;
      fs::remove_all(work, code);
      Report(relative + ": " + std::to_string(packages.size()) + " packages");
      steps.push_back({from.version, to.version});
    }
    const std::string list = Path(PatchListPath());
    return MakeFolder(fs::path(list).parent_path().string(), error) &&
           WriteServerText(list, FormatPatchList(game.back().version, steps), false, error);
  }

  const PublishSettings& settings_;
  const std::string root_;
  const std::string work_;
};

}  // namespace

bool PublishServerTree(const PublishSettings& settings, std::string& error) {
  if (!CheckSettings(settings, error)) return false;

  // A fresh folder beside the output, moved into place when complete.
  const fs::path output = WithoutTrailingSlash(settings.outputFolder);
  fs::path parent = output.parent_path().empty() ? fs::path(".") : output.parent_path();
  std::error_code code;
  fs::create_directories(parent, code);
  std::string pattern = (parent / ("." + output.filename().string() + ".publish-XXXXXX")).string();
  if (code || mkdtemp(pattern.data()) == nullptr) {
    error = "cannot create a folder in " + parent.string();
    return false;
  }
  const std::string staging = pattern;

  bool written = TreeWriter(settings, staging).Write(error);
  if (written && !settings.signing.privateKeyHex.empty()) {
    written = SignServerTree(staging, settings.signing, error);
    if (written && settings.progress)
      settings.progress("signed with release serial " + std::to_string(settings.signing.serial));
  }
  if (written) {
    fs::rename(staging, output, code);
    if (code) error = "cannot move the tree to " + output.string() + ": " + code.message();
  }
  if (!written || code) {
    fs::remove_all(staging, code);
    return false;
  }
  return true;
}
