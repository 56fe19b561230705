#include "tools/publisher/ServerTreeVerifier.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "Procedure/ServerVersionFile.h"
#include "patch/ProtectedFile.h"
#include "patch/QoPatchInfo.h"
#include "patch/QoPatchUser.h"
#include "patch/QoVersionRepairInfo.h"
#include "patch/SignedFileRecord.h"
#include "platform/PrivateProfile.h"
#include "platform/SystemPath.h"
#include "platform/TempFolder.h"
#include "tools/publisher/ServerLayout.h"
#include "tools/publisher/SourceTree.h"
#include "tools/publisher/TreeCompare.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

namespace fs = std::filesystem;

namespace {

// The procedures read INI texts into 260-byte buffers.
constexpr size_t kValueBufferSize = 260;
// The folder inside a scratch game folder that plays the launcher's folder
// (the applier's current folder; pages are installed into its parent).
constexpr const char* kLauncherFolder = ".tova-verify";

// Makes `folder` the current folder until the end of the scope.
class CurrentFolderScope {
 public:
  explicit CurrentFolderScope(const fs::path& folder) {
    std::error_code code;
    previous_ = fs::current_path(code);
    if (!code) fs::current_path(folder, code);
    entered_ = !code;
  }
  ~CurrentFolderScope() {
    std::error_code ignored;
    if (entered_) fs::current_path(previous_, ignored);
  }
  CurrentFolderScope(const CurrentFolderScope&) = delete;
  CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;
  bool entered() const { return entered_; }

 private:
  fs::path previous_;
  bool entered_ = false;
};

// The version a version file names, read as the procedures read it. Empty
// with `why` when it cannot be used.
std::string ReadVersionFile(const fs::path& path, std::string& why) {
  std::string version;
  std::error_code code;
  if (!ReadServerVersion(path.string(), version))
    why = fs::exists(path, code) ? "has 64 bytes or more" : "is missing";
  else if (version.empty())
    why = "names no version";
  return version;
}

// Whether `data` begins like the plain text of a list or description: no
// control characters but tabs and line ends in what would be the protected
// header. A file protected with another key begins with scrambled bytes.
bool LooksPlain(const std::string& data) {
  const size_t length = std::min(data.size(), kProtectedHeaderSize);
  return std::none_of(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7F;
  });
}

// The first bytes of a file, as many as a protected header has.
std::string HeaderOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string data(kProtectedHeaderSize, '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return data;
}

// The versions that have a folder prefix + version, sorted.
std::vector<std::string> VersionFolders(const fs::path& base, const VersionTreeLayout& layout) {
  fs::path prefix = base / layout.folderPrefix;
  std::string start = prefix.filename().string();
  std::vector<std::string> versions;
  std::error_code code;
  for (fs::directory_iterator it(prefix.parent_path(), code), end; !code && it != end; it.increment(code)) {
    std::string name = it->path().filename().string();
    if (it->is_directory(code) && name.size() > start.size() && name.starts_with(start))
      versions.push_back(name.substr(start.size()));
  }
  std::sort(versions.begin(), versions.end());
  return versions;
}

class TreeVerifier {
 public:
  // `base` is the tree's absolute path, `name` the way the caller named it.
  TreeVerifier(fs::path base, std::string name, fs::path scratch, std::vector<std::string>& problems,
               const std::function<void(const std::string&)>& progress)
      : base_(std::move(base)),
        name_(std::move(name)),
        scratch_(std::move(scratch)),
        problems_(problems),
        progress_(progress) {}

  void Run() {
    if (!CheckSeed()) return;
    bool any = false;
    any |= CheckVersionTree(LauncherTreeLayout(), nullptr);
    any |= CheckVersionTree(GameTreeLayout(), &gameVersions_);
    any |= CheckInstallTree();
    any |= CheckPatches();
    if (!any) Problem(name_ + " holds no update-server tree");
  }

 private:
  void Problem(const std::string& line) { problems_.push_back(line); }
  void Report(const std::string& line) const {
    if (progress_) progress_(line);
  }
  bool Exists(const std::string& relative) const {
    std::error_code code;
    return fs::exists(base_ / relative, code);
  }

  // The lists and patch descriptions (the files two folders below the base:
  // "<tree>/<version folder>/GameInfo.ini", "AutoPatch/<patch>/patchinfo_*")
  // are plain or protected with the seed of this build. One that is neither
  // was protected with another seed: every check of its contents would only
  // report what follows from that, so that is the one problem reported.
  bool CheckSeed() {
    ProtectionKey key;
    BuildProtectionKey(key);
    std::error_code code;
    for (fs::recursive_directory_iterator it(base_, code), end; !code && it != end; it.increment(code)) {
      if (it.depth() < 2) continue;
      it.disable_recursion_pending();
      const std::string name = it->path().filename().string();
      if (name != kVersionListName && !(name.starts_with("patchinfo_") && name.ends_with(".ini"))) continue;
      if (!it->is_regular_file(code)) continue;
      const std::string data = HeaderOf(it->path());
      const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      if (LooksPlain(data) || ReadProtectedHeader(bytes, key, nullptr)) continue;
      Problem("the lists cannot be deciphered with the seed " + std::to_string(LAUNCHER_PROTECTION_SEED) + " (" +
              fs::relative(it->path(), base_, code).generic_string() + "): the tree was protected with another seed");
      return false;
    }
    return true;
  }

  // A fresh, empty work folder in the scratch folder.
  fs::path FreshWorkFolder(const std::string& name) {
    fs::path folder = scratch_ / name;
    std::error_code code;
    fs::remove_all(folder, code);
    fs::create_directories(folder, code);
    return folder;
  }

  // A writable copy, as the launcher's own downloads and installations are.
  bool CopyFolder(const fs::path& from, const fs::path& to, const std::string& what) {
    std::error_code code;
    fs::copy(from, to, fs::copy_options::recursive, code);
    for (fs::recursive_directory_iterator it(to, code), end; !code && it != end; it.increment(code))
      fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, code);
    if (code) Problem(what + ": cannot copy " + from.string() + " to the scratch folder: " + code.message());
    return !code;
  }

  // The version file of a tree and the folder of the version it names.
  // Empty when there is none.
  std::string CheckCurrentVersion(const VersionTreeLayout& layout) {
    std::string why;
    std::string version = ReadVersionFile(base_ / layout.versionFile, why);
    if (!why.empty()) {
      Problem(layout.versionFile + " " + why);
      return {};
    }
    if (!Exists(layout.Folder(version))) Problem(layout.versionFile + " names " + version + ", which has no folder");
    return version;
  }

  // LauncherVersion or GameVersion. False when the tree is absent.
  bool CheckVersionTree(const VersionTreeLayout& layout, std::set<std::string>* versions) {
    std::vector<std::string> folders = VersionFolders(base_, layout);
    if (folders.empty() && !Exists(layout.versionFile)) return false;
    CheckCurrentVersion(layout);
    for (const std::string& version : folders) {
      CheckListFolder(layout.Folder(version), version);
      if (versions != nullptr) versions->insert(version);
    }
    return true;
  }

  // The list of a version folder against the folder's files.
  void CheckListFolder(const std::string& relative, const std::string& version) {
    const fs::path folder = base_ / relative;
    const std::string listName = relative + "/" + kVersionListName;
    QoVersionRepairInfo list(nullptr);
    if (!list.InputVerRepairFileList((folder / kVersionListName).string())) {
      Problem(listName + " cannot be read");
      return;
    }
    size_t before = problems_.size();
    if (list.version() != version) Problem(listName + " declares version " + list.version());

    std::set<std::string> listed;
    for (const VersionFileRecord& record : list.files()) {
      std::string name = ToSystemPath(record.fileName);
      const std::string entry = listName + ": " + record.fileName;
      if (!listed.insert(name).second) {
        Problem(entry + " is listed twice");
        continue;
      }
      SourceFile actual;
      std::string why;
      if (!DescribeFile(name, (folder / name).string(), actual, why)) {
        Problem(entry + ": " + why);
        continue;
      }
      if (actual.size != record.size) Problem(entry + " has " + std::to_string(actual.size) + " bytes");
      if (actual.md5 != record.md5) Problem(entry + " has the MD5 " + actual.md5);
      if (actual.crc != record.crc) Problem(entry + " has the CRC " + actual.crc);
    }
    std::map<std::string, std::string> present;
    if (!ListFolderFiles(folder.string(), present)) Problem(relative + " cannot be read");
    for (const auto& [name, path] : present) {
      // The list's signature file of a signed tree lies beside it, unlisted.
      const bool listFile = name == kVersionListName || name == std::string(kVersionListName) + kSignatureFileSuffix;
      if (!listFile && listed.count(name) == 0) Problem(relative + "/" + name + " is not listed");
    }
    if (problems_.size() == before) Report(relative + ": " + std::to_string(list.files().size()) + " files as listed");
  }

  // The Packages section as a procedure reads it from `plainDescription`,
  // against the package files in `folder` and the packages the applier reads.
  void CheckPackageEntries(const std::string& relative, const fs::path& plainDescription, const fs::path& folder,
                           const std::vector<PackageInfo>& packages) {
    const std::string description = plainDescription.string();
    int count = GetPrivateProfileInt("Packages", "PackageNum", 0, description);
    if (count < 0 || static_cast<size_t>(count) != packages.size()) {
      Problem(relative + ": the procedure reads " + std::to_string(count) + " packages, the applier " +
              std::to_string(packages.size()));
      return;
    }
    std::vector<std::string> pieces;
    for (int i = 0; i < count; ++i) {
      const std::string key = "Package" + std::to_string(i);
      SplitByComma(pieces, GetPrivateProfileString("Packages", key, "", kValueBufferSize, description));
      if (pieces.size() < 4) {
        Problem(relative + ": " + key + " has fewer than four fields");
        continue;
      }
      SourceFile package;
      std::string why;
      if (!DescribeFile(pieces[0], (folder / pieces[0]).string(), package, why)) {
        Problem(relative + ": " + key + ": " + why);
        continue;
      }
      if (std::to_string(package.size) != pieces[2])
        Problem(relative + ": " + pieces[0] + " has " + std::to_string(package.size) + " bytes");
      if (package.md5 != pieces[3]) Problem(relative + ": " + pieces[0] + " has the MD5 " + package.md5);
    }
  }

  bool CheckInstallTree() {
    const VersionTreeLayout layout = InstallTreeLayout();
    std::vector<std::string> folders = VersionFolders(base_, layout);
    if (folders.empty() && !Exists(layout.versionFile)) return false;
    installVersion_ = CheckCurrentVersion(layout);
    for (const std::string& version : folders) CheckInstallFolder(layout.Folder(version), version);
    return true;
  }

  void CheckInstallFolder(const std::string& relative, const std::string& version) {
    const std::string descriptionName = InstallDescriptionName(version);
    const std::string where = relative + "/" + descriptionName;
    const fs::path work = FreshWorkFolder("install");
    const fs::path pages = work / "pages";
    if (!CopyFolder(base_ / relative, pages, relative)) return;

    QoPatchInfo info;
    const fs::path copy = work / "description.ini";
    std::error_code code;
    fs::copy_file(pages / descriptionName, copy, code);
    if (code || info.InputPackageList(copy.string()) != 0) {
      Problem(where + " cannot be read");
      return;
    }
    size_t before = problems_.size();
    // The install procedure reads the description as downloaded.
    CheckPackageEntries(where, base_ / relative / descriptionName, base_ / relative, info.packages());
    if (problems_.size() != before) return;

    const fs::path game = work / "game";
    fs::create_directories(game / kLauncherFolder, code);
    int result = -1;  // the applier's code as printed; -1: the folder could not be entered
    {
      CurrentFolderScope scope(game / kLauncherFolder);
      if (scope.entered()) {
        QoPatchUser user(nullptr);
        user.SetInstallFile((pages / descriptionName).string(), pages.string());
        result = static_cast<int>(user.InstallGamePage());
      }
    }
    if (result != static_cast<int>(CpUserResult::CP_USER_SUCCESS)) {
      Problem(relative + ": installing the pages fails with code " + std::to_string(result));
      return;
    }
    CompareWithVersion(relative + ": the installation", version, game, kLauncherFolder);
    if (problems_.size() == before) Report(relative + ": installs version " + version);
  }

  // Compares `game` with the repair folder of `version`.
  void CompareWithVersion(const std::string& what, const std::string& version, const fs::path& game,
                          std::string_view ignoredTop) {
    const std::string expected = GameTreeLayout().Folder(version);
    if (!Exists(expected)) {
      Problem(what + ": there is no " + expected + " to compare with");
      return;
    }
    // The list's signature file of a signed tree belongs to the server's
    // folder only; no page or package carries it.
    const std::string listSignature = std::string(kVersionListName) + kSignatureFileSuffix + " ";
    for (const std::string& difference : CompareFolders((base_ / expected).string(), game.string(), ignoredTop)) {
      if (!difference.starts_with(listSignature)) Problem(what + " differs from " + expected + ": " + difference);
    }
  }

  bool CheckPatches() {
    const std::string listName = PatchListPath();
    const fs::path list = base_ / listName;
    if (!Exists(listName)) {
      if (!gameVersions_.empty()) Problem(listName + " is missing");
      return false;
    }
    const std::string path = list.string();
    int count = GetPrivateProfileInt("PatchHistory", "PatchNum", 0, path);
    std::string now = GetPrivateProfileString("PatchHistory", "VersionNow", "", kValueBufferSize, path);
    if (count <= 0 || now.empty()) {
      Problem(listName + " has no positive PatchNum or no VersionNow");
      return true;
    }
    std::string why;
    std::string current = ReadVersionFile(base_ / GameTreeLayout().versionFile, why);
    if (why.empty() && current != now) Problem(listName + " names " + now + " as current, the repair tree " + current);
    if (!installVersion_.empty() && installVersion_ != now)
      Problem(listName + " names " + now + " as current, the install tree " + installVersion_);

    // The patch table as the patch procedure builds it.
    std::map<std::string, std::string> table;
    for (int i = 0; i < count; ++i) {
      const std::string section = "Patch_" + std::to_string(i);
      std::string from = GetPrivateProfileString(section, "VersionFrom", "", kValueBufferSize, path);
      std::string to = GetPrivateProfileString(section, "VersionTo", "", kValueBufferSize, path);
      if (!from.empty() && !to.empty()) table[from] = to;
    }
    for (const std::string& version : gameVersions_) {
      std::map<std::string, std::string> unused = table;
      std::string reached = version;
      for (auto it = unused.find(reached); it != unused.end(); it = unused.find(reached)) {
        reached = it->second;
        unused.erase(it);
      }
      if (reached != now) Problem("game version " + version + " has no chain of patches to " + now);
    }
    for (const auto& [from, to] : table) CheckPatch(from, to);
    return true;
  }

  void CheckPatch(const std::string& from, const std::string& to) {
    const std::string relative = PatchFolder(from, to);
    const std::string descriptionName = PatchDescriptionName(from, to);
    const std::string where = relative + "/" + descriptionName;
    if (!Exists(where)) {
      Problem(where + " is missing");
      return;
    }
    const fs::path work = FreshWorkFolder("patch");
    const fs::path copy = work / "description.ini";
    std::error_code code;
    fs::copy_file(base_ / where, copy, code);
    QoPatchInfo info;
    if (code || info.InputPatchInfoFile(copy.string()) != 0) {
      Problem(where + " cannot be read");
      return;
    }
    size_t before = problems_.size();
    if (info.versionOld() != from || info.versionNew() != to)
      Problem(where + " describes " + info.versionOld() + " -> " + info.versionNew());
    // The patch procedure reads the packages once the description is plain.
    CheckPackageEntries(where, copy, base_ / relative, info.packages());
    const std::string source = GameTreeLayout().Folder(from);
    if (!Exists(source)) Problem(relative + ": there is no " + source + " to apply the patch to");
    if (problems_.size() != before) return;

    const fs::path game = work / "game";
    const fs::path patch = work / "patch";
    if (!CopyFolder(base_ / source, game, relative) || !CopyFolder(base_ / relative, patch, relative)) return;
    fs::create_directories(work / "launcher", code);
    int result = -1;  // the applier's code as printed; -1: the folder could not be entered
    {
      CurrentFolderScope scope(work / "launcher");
      if (scope.entered()) {
        QoPatchUser user(nullptr);
        user.SetGameFolder(game.string());
        user.SetPatchFile(descriptionName, patch.string());
        result = static_cast<int>(user.UpdatePatchFile());
      }
    }
    if (result != static_cast<int>(CpUserResult::CP_USER_SUCCESS)) {
      Problem(relative + ": applying the patch to " + source + " fails with code " + std::to_string(result));
      return;
    }
    CompareWithVersion(relative + ": the patched game", to, game, {});
    if (problems_.size() == before) Report(relative + ": turns " + from + " into " + to);
  }

  const fs::path base_;
  const std::string name_;
  const fs::path scratch_;
  std::vector<std::string>& problems_;
  const std::function<void(const std::string&)>& progress_;
  std::set<std::string> gameVersions_;
  std::string installVersion_;
};

}  // namespace

bool VerifyServerTree(const std::string& base, std::vector<std::string>& problems,
                      const std::function<void(const std::string&)>& progress) {
  problems.clear();
  std::error_code code;
  fs::path root = fs::absolute(base, code);
  if (code || !fs::is_directory(root, code)) {
    problems.push_back(base + " is not a folder");
    return false;
  }
  std::string temp = GetTempFolderPath();
  std::string pattern = temp + "publish-verify-XXXXXX";
  if (temp.empty() || mkdtemp(pattern.data()) == nullptr) {
    problems.push_back("cannot create a scratch folder");
    return false;
  }
  {
    // Whatever the launcher's code logs goes to the scratch folder's
    // "Launch.log", not to the caller's folder nor to standard output, where
    // the caller's report goes.
    CurrentFolderScope scope(pattern);
    const bool echo = SetLaunchLogEcho(false);
    TreeVerifier(root, base, pattern, problems, progress).Run();
    SetLaunchLogEcho(echo);
  }
  fs::remove_all(pattern, code);
  return problems.empty();
}
