#include "tools/publisher/ServerTreeSigning.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "patch/SignedFileRecord.h"
#include "tools/publisher/ServerLayout.h"
#include "util/FileUtil.h"

namespace fs = std::filesystem;

namespace {

// The files in `folder` (below `base`) whose names start with `prefix` and
// end with `suffix`, as paths below the base.
void AddMatching(const fs::path& base, const std::string& folder, const std::string& prefix, const std::string& suffix,
                 std::vector<std::string>& paths) {
  std::error_code code;
  for (const fs::directory_entry& entry : fs::directory_iterator(base / folder, code)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(code) && name.starts_with(prefix) && name.ends_with(suffix) &&
        name.size() >= prefix.size() + suffix.size())
      paths.push_back(folder + "/" + name);
  }
}

// The folders below `base` that a layout's prefix names ("GameVersion/Game_<V>").
std::vector<std::string> VersionFolders(const fs::path& base, const std::string& folderPrefix) {
  const fs::path prefix(folderPrefix);
  const std::string parent = prefix.parent_path().string();
  const std::string start = prefix.filename().string();
  std::vector<std::string> folders;
  std::error_code code;
  for (const fs::directory_entry& entry : fs::directory_iterator(base / parent, code)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory(code) && name.starts_with(start)) folders.push_back(parent + "/" + name);
  }
  return folders;
}

}  // namespace

std::vector<std::string> SignedFilesOfTree(const std::string& base) {
  std::vector<std::string> paths;
  std::error_code code;
  for (const VersionTreeLayout& layout : {LauncherTreeLayout(), GameTreeLayout(), InstallTreeLayout()}) {
    if (fs::is_regular_file(fs::path(base) / layout.versionFile, code)) paths.push_back(layout.versionFile);
  }
  if (fs::is_regular_file(fs::path(base) / PatchListPath(), code)) paths.push_back(PatchListPath());
  for (const VersionTreeLayout& layout : {LauncherTreeLayout(), GameTreeLayout()}) {
    for (const std::string& folder : VersionFolders(base, layout.folderPrefix)) {
      if (fs::is_regular_file(fs::path(base) / folder / kVersionListName, code))
        paths.push_back(folder + "/" + kVersionListName);
    }
  }
  for (const std::string& folder : VersionFolders(base, InstallTreeLayout().folderPrefix))
    AddMatching(base, folder, "intallinfo_", ".ini", paths);
  for (const std::string& folder : VersionFolders(base, PatchFolderPrefix()))
    AddMatching(base, folder, "patchinfo_", ".ini", paths);
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool WriteSigningKeyFile(const std::string& path, std::string& publicKeyHex, std::string& error) {
  std::string privateKeyHex;
  MakeSigningKeyPair(privateKeyHex, publicKeyHex);
  const std::string text = privateKeyHex + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = fd >= 0 && ::close(fd) == 0 && written;
  if (!written) {
    error = "cannot write the key file " + path + " (an existing file is not replaced)";
    if (fd >= 0) ::unlink(path.c_str());
  }
  return written;
}

bool ReadSigningKeyFile(const std::string& path, std::string& privateKeyHex, std::string& error) {
  std::string text, publicKeyHex;
  if (ReadSmallFile(path, 1024, text)) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (SigningPublicKeyOf(text, publicKeyHex)) {
      privateKeyHex = text;
      return true;
    }
  }
  error = path + " holds no signing key";
  return false;
}

bool SignServerTree(const std::string& base, const TreeSigning& signing, std::string& error) {
  for (const std::string& path : SignedFilesOfTree(base)) {
    const fs::path file = fs::path(base) / path;
    const std::string signature = file.string() + kSignatureFileSuffix;
    // A version's own file of that name would be overwritten.
    std::error_code code;
    if (fs::exists(signature, code)) {
      error = "cannot sign " + path + ": the tree already holds " + path + kSignatureFileSuffix;
      return false;
    }
    SignedFileRecord record{path, signing.serial, signing.expires, "", ""};
    if (!FileSha256Hex(file.string(), record.sha256) || !SignFileRecord(signing.privateKeyHex, record)) {
      error = "cannot sign " + file.string();
      return false;
    }
    std::ofstream out(signature, std::ios::binary | std::ios::trunc);
    out << FormatSignedFileRecord(record);
    out.close();
    if (!out) {
      error = "cannot write " + signature;
      return false;
    }
  }
  return true;
}

void VerifyTreeSignatures(const std::string& base, const std::string& publicKeyHex, int64_t now,
                          std::vector<std::string>& problems) {
  std::set<uint64_t> serials;
  for (const std::string& path : SignedFilesOfTree(base)) {
    const fs::path file = fs::path(base) / path;
    std::string text;
    SignedFileRecord record;
    SignatureCheck check = SignatureCheck::kMissing;
    if (ReadSmallFile(file.string() + kSignatureFileSuffix, kSignatureFileMaxBytes, text))
      check = CheckSignedFile(text, file.string(), {publicKeyHex, path, now, 0}, record);
    if (check == SignatureCheck::kValid) {
      serials.insert(record.serial);
    } else {
      problems.push_back(path + ": signature check failed (" + SignatureCheckName(check) + ")");
    }
  }
  if (serials.size() > 1) problems.push_back("the signatures carry " + std::to_string(serials.size()) + " serials");
}
