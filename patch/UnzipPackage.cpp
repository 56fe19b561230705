#include "patch/UnzipPackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zzip/zzip.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "patch/SafeName.h"
#include "platform/DiskSpace.h"
#include "platform/SystemPath.h"
#include "util/FileTransfer.h"
#include "util/FileUtil.h"

namespace {

constexpr size_t kPieceSize = 0xA00000;  // 10 MiB

struct DirCloser {
  void operator()(ZZIP_DIR* dir) const { zzip_dir_close(dir); }
};
struct EntryCloser {
  void operator()(ZZIP_FILE* file) const { zzip_file_close(file); }
};
bool IsFolderName(std::string_view name) { return name.back() == '/' || name.back() == '\\'; }

// Every file entry must stay inside the destination, out of the launcher's
// own folder (when the destination holds it), and be the only entry of its
// name: entries are opened by their exact name, so a second entry of one name
// could not be told from the first. One that fails refuses the whole package
// before anything is written. Adds up the sizes the entries declare.
bool AllEntriesUsable(ZZIP_DIR* dir, std::string_view destFolder, uint64_t& declaredBytes) {
  bool usable = true;
  std::set<std::string> names;
  const LauncherFolderGuard launcherFolder(destFolder);
  declaredBytes = 0;
  while (const ZZIP_DIRENT* entry = zzip_readdir(dir)) {
    const std::string name = entry->d_name != nullptr ? entry->d_name : "";
    if (name.empty() || IsFolderName(name)) continue;
    std::string local;
    if (!LocalNameOf(name, local) || launcherFolder.Enters(local) || !names.insert(std::move(local)).second)
      usable = false;
    if (entry->st_size < 0) usable = false;
    declaredBytes += static_cast<uint64_t>(std::max(entry->st_size, 0));
  }
  zzip_rewinddir(dir);
  return usable;
}

// Writes the entry `name` to `target`.
bool ExtractEntry(ZZIP_DIR* dir, const char* name, const std::string& target, std::vector<char>& buffer) {
  // The exact name: a lookup without regard to case would give "data/a.txt"
  // the bytes of an earlier "Data/A.txt".
  std::unique_ptr<ZZIP_FILE, EntryCloser> entry(zzip_file_open(dir, name, 0));
  if (!entry) return false;
  ZZIP_STAT entryStat{};
  if (zzip_file_stat(entry.get(), &entryStat) != 0 || entryStat.st_size < 0) return false;

  // A folder that cannot be made fails the entry's file creation below.
  static_cast<void>(CreateDirectoryForPath(target, true));
  // Replaces what is there, like fopen "wb", but only once the entry is
  // complete (an extraction cut short leaves the old file), keeping the
  // permission bits of a file it replaces. A read-only file (owner write bit
  // clear) is refused, whoever runs the launcher.
  const std::string systemTarget = ToSystemPath(target);
  struct stat existing {};
  const bool replaces = stat(systemTarget.c_str(), &existing) == 0;
  if (replaces && S_ISDIR(existing.st_mode)) return false;
  if (replaces && S_ISREG(existing.st_mode) && (existing.st_mode & S_IWUSR) == 0) return false;
  FileReplacement out(target, 0666);
  if (!out.valid() || (replaces && fchmod(out.fd(), existing.st_mode & 07777) != 0)) return false;

  auto remaining = static_cast<size_t>(entryStat.st_size);
  if (remaining > 0 && buffer.empty()) buffer.resize(kPieceSize);
  while (remaining > 0) {
    size_t piece = std::min(remaining, kPieceSize);
    zzip_ssize_t got = zzip_file_read(entry.get(), buffer.data(), piece);
    if (got < 0 || static_cast<size_t>(got) != piece) return false;
    if (!WriteFileBytes(out.fd(), buffer.data(), piece)) return false;
    remaining -= piece;
  }
  return out.Commit();
}

}  // namespace

bool UnzipPackage(std::string_view zipPath, std::string_view destFolder, std::vector<std::string>* extracted,
                  const HeldEntry* held) {
  if (zipPath.empty() || destFolder.empty()) return false;
  zzip_error_t error{};
  std::unique_ptr<ZZIP_DIR, DirCloser> dir(zzip_dir_open(ToSystemPath(zipPath).c_str(), &error));
  if (!dir) return false;
  uint64_t declaredBytes = 0;
  if (!AllEntriesUsable(dir.get(), destFolder, declaredBytes)) return false;
  // A small archive of zeros may declare gigabytes: what it declares must fit
  // before anything is written, and each entry stops at its declared size.
  uint64_t freeBytes = 0;
  if (GetDiskFreeBytesFor(destFolder, freeBytes) && declaredBytes > freeBytes) return false;

  std::vector<char> buffer;  // one piece buffer for the whole package
  while (const ZZIP_DIRENT* entry = zzip_readdir(dir.get())) {
    if (entry->d_name == nullptr) continue;
    // The entry's name is copied: opening an entry may reuse the directory's
    // record buffer.
    const std::string name = entry->d_name;
    if (name.empty() || IsFolderName(name)) continue;
    std::string local;
    if (!LocalNameOf(name, local)) return false;
    const bool isHeld = held != nullptr && local == held->name;
    const std::string target = isHeld ? std::string(held->path) : std::string(destFolder) + "\\" + local;
    if (!ExtractEntry(dir.get(), name.c_str(), target, buffer)) return false;
    if (extracted != nullptr && !isHeld) extracted->push_back(std::move(local));
  }
  return true;
}
