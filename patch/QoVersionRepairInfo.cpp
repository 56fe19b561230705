#include "patch/QoVersionRepairInfo.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "patch/FileListMessages.h"
#include "patch/IniDocument.h"
#include "patch/ProtectedFile.h"
#include "patch/SafeName.h"
#include "platform/MessageWindow.h"
#include "platform/PrivateProfile.h"
#include "platform/SystemPath.h"
#include "platform/TempFolder.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

namespace {

constexpr const char* kSourceName = "patch\\QoVersionRepairInfo.cpp";
constexpr int kUnsafeNameLine = 96;
constexpr size_t kVersionCapacity = 260;  // the version is read into 260 bytes

// The deciphered copy of a list, deleted when the read ends.
class DecipheredCopy {
 public:
  DecipheredCopy() = default;
  ~DecipheredCopy() {
    if (!path_.empty()) DeleteFile(path_, ReadOnlyFile::kDelete);
  }
  DecipheredCopy(const DecipheredCopy&) = delete;
  DecipheredCopy& operator=(const DecipheredCopy&) = delete;

  // Copies `source` to a new temporary file and unprotects the copy. False
  // when there is no usable temporary folder, the copy fails or the protected
  // form fails its check.
  bool Make(const std::string& source) {
    path_ = NewVersionListTempFile();
    if (path_.empty() || !CopyFileOverwrite(source, path_)) return false;
    ProtectionKey key;
    BuildProtectionKey(key);
    return UnprotectFile(key, path_);
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Index n of a key "File<n>" written without padding, or -1 for other keys.
int64_t FileKeyIndex(const std::string& key) {
  constexpr std::string_view prefix = "File";
  if (!key.starts_with(prefix) || key.size() == prefix.size() || key.size() > prefix.size() + 10) return -1;
  std::string_view digits = std::string_view(key).substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return -1;
  int64_t index = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
  }
  return index;
}

// The indices below `count` that have a key in [FileList], ascending: the
// other keys cannot be found, so a large FileCount over a short list costs
// nothing per announced entry.
std::vector<int> PresentIndices(const IniDocument& doc, int count) {
  std::vector<int> indices;
  for (const IniSection& section : doc.sections()) {
    if (section.name != "FileList") continue;
    for (const IniEntry& entry : section.entries) {
      int64_t index = FileKeyIndex(entry.key);
      if (index >= 0 && index < count) indices.push_back(static_cast<int>(index));
    }
    break;
  }
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  return indices;
}

}  // namespace

namespace {

// The process that made a copy named "<name>.<pid>.<six characters>"; 0 for
// any other name.
pid_t CopyOwner(std::string_view name) {
  const std::string prefix = std::string(kVersionListTempName) + ".";
  if (!name.starts_with(prefix)) return 0;
  name.remove_prefix(prefix.size());
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot + 7 != name.size()) return 0;
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + dot, pid);
  return error == std::errc() && end == name.data() + dot && pid > 0 ? pid : 0;
}

// Copies whose process has ended: a failed removal left them behind.
void DeleteCopiesOfEndedProcesses(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(ToSystemPath(folder), error), end; !error && it != end;
       it.increment(error)) {
    const pid_t owner = CopyOwner(it->path().filename().string());
    if (owner != 0 && kill(owner, 0) != 0 && errno == ESRCH) {
      static_cast<void>(unlink(it->path().c_str()));
    }
  }
}

}  // namespace

std::string NewVersionListTempFile() {
  const std::string folder = GetTempFolderPath();
  if (folder.empty()) return std::string();
  DeleteCopiesOfEndedProcesses(folder);
  std::string path = ToSystemPath(folder + "\\" + kVersionListTempName + "." + std::to_string(getpid()) + ".XXXXXX");
  const int fd = mkstemp(path.data());
  if (fd < 0) return std::string();
  close(fd);
  return folder + "\\" + path.substr(path.rfind('/') + 1);
}

QoVersionRepairInfo::QoVersionRepairInfo(MessageWindow* notifyWindow) : notifyWindow_(notifyWindow) {}

QoVersionRepairInfo::~QoVersionRepairInfo() = default;

bool QoVersionRepairInfo::InputVerRepairFileList(const std::string& path) {
  DecipheredCopy copy;
  if (!copy.Make(path)) return false;

  IniDocument doc("#");
  static_cast<void>(doc.Load(copy.path()));  // a parse error keeps the lines read before it
  std::string version = version_;
  doc.GetValue("Version", "Version", version);
  int count = 0;
  doc.GetIntValue("FileList", "FileCount", count);

  // Records with the progress they report; kept apart until the whole list
  // is known to be usable.
  std::vector<std::pair<int, VersionFileRecord>> read;
  std::vector<std::string> fields;
  for (int i : PresentIndices(doc, count)) {
    std::string value;
    doc.GetValue("FileList", "File" + std::to_string(i), value);
    if (SplitByComma(fields, value) != 5) continue;
    std::string local;
    if (!LocalNameOf(fields[0], local)) {
      WriteSourceLineLog(kSourceName, kUnsafeNameLine, "InputVerRepairFileList unsafe file name =%s",
                         fields[0].c_str());
      return false;
    }
    int percent = static_cast<int>(int64_t{i} * 100 / count);
    read.emplace_back(percent, VersionFileRecord{std::move(local), IniToInt(fields[3]), std::move(fields[1]),
                                                 std::move(fields[2]), IniToInt(fields[4]), std::move(fields[0])});
  }

  version_ = std::move(version);
  SendMessageTo(notifyWindow_, UM_FILELIST_PARSE_BEGIN, 0, 0);
  for (auto& [percent, record] : read) {
    files_.push_back(std::move(record));
    SendMessageTo(notifyWindow_, UM_FILELIST_PARSE_PERCENT, static_cast<WParam>(percent),
                  reinterpret_cast<LParam>(files_.back().fileName.c_str()));
  }
  SendMessageTo(notifyWindow_, UM_FILELIST_PARSE_END, 0, 0);
  return true;
}

bool QoVersionRepairInfo::InputVerRepairInfoFile(const std::string& path) {
  DecipheredCopy copy;
  if (!copy.Make(path)) return false;
  version_ = GetPrivateProfileString("Version", "Version", "", kVersionCapacity, copy.path());
  return true;
}
