#include "util/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/SystemPath.h"
#include "util/FileTransfer.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

bool MakeWritable(const std::string& path, const struct stat& st) {
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool MakeFolder(std::string_view path) { return mkdir(ToSystemPath(path).c_str(), 0777) == 0; }

// Cuts the last component with its separator: "a\b" -> "a", "\a" -> "\".
// One or two leading separators (root, network name) are never cut. False
// when nothing is left to cut.
bool RemoveLastComponent(std::string& path) {
  size_t start = 0;
  while (start < 2 && start < path.size() && IsSeparator(path[start])) {
    ++start;
  }
  size_t cut = start;
  for (size_t i = start; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      cut = i;
    }
  }
  if (cut == path.size()) {
    return false;
  }
  path.resize(cut);
  return true;
}

// Deletes everything in the folder open as `folderFd` (and closes it).
// Entries are looked at without following links, so a link is deleted
// itself and the walk never leaves the tree.
bool EmptyFolder(int folderFd) {
  DIR* folder = fdopendir(folderFd);
  if (folder == nullptr) {
    close(folderFd);
    return false;
  }
  const int fd = dirfd(folder);
  bool ok = true;
  while (ok) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      ok = errno == 0;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    struct stat st {};
    if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
    } else if (S_ISDIR(st.st_mode)) {
      const int sub = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ok = sub >= 0 && EmptyFolder(sub) && unlinkat(fd, entry->d_name, AT_REMOVEDIR) == 0;
    } else {
      ok = !(S_ISREG(st.st_mode) && IsReadOnly(st)) && unlinkat(fd, entry->d_name, 0) == 0;
    }
  }
  closedir(folder);
  return ok;
}

}  // namespace

int32_t GetFileLength(std::string_view path) {
  if (path.empty()) {
    return -1;
  }
  // Non-blocking, so that a named pipe cannot stall the open.
  const int fd = open(ToSystemPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  struct stat st {};
  const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  return ok ? static_cast<int32_t>(static_cast<uint32_t>(st.st_size)) : -1;
}

std::string FolderOfFile(std::string_view path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string_view::npos) return ".";
  return std::string(path.substr(0, cut == 0 ? 1 : cut));
}

bool IsPathExist(std::string_view path) {
  struct stat st {};
  return !path.empty() && stat(ToSystemPath(path).c_str(), &st) == 0;
}

bool CreateDirectoryTree(std::string_view path) {
  if (IsPathExist(path) || MakeFolder(path)) {
    return true;
  }
  std::string parent(path);
  if (!RemoveLastComponent(parent)) {
    return false;
  }
  return CreateDirectoryTree(parent) && MakeFolder(path);
}

bool CreateDirectoryForPath(std::string_view path, bool pathNamesFile) {
  if (path.size() < 2) {
    return false;
  }
  std::string folder(path);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  if (folder.back() == '\\') {
    folder.pop_back();
  }
  if (pathNamesFile) {
    const size_t last = folder.rfind('\\');
    if (last == std::string::npos) {
      return true;  // a folder named like the file would only block the file
    }
    folder.resize(last);
  }
  return CreateDirectoryTree(folder);
}

bool DeleteDirectoryTree(std::string_view folder) {
  std::string path = ToSystemPath(folder);
  // A trailing "/" would make the calls below follow a link.
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  struct stat st {};
  if (path.empty() || lstat(path.c_str(), &st) != 0) {
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    // A link to a folder is removed as the folder's stand-in; its target
    // stays untouched.
    struct stat target {};
    return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && unlink(path.c_str()) == 0;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd >= 0 && EmptyFolder(fd) && rmdir(path.c_str()) == 0;
}

bool DeleteFile(std::string_view path, ReadOnlyFile readOnly) {
  const std::string file = ToSystemPath(path);
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) {
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (readOnly == ReadOnlyFile::kRefuse && S_ISREG(st.st_mode) && IsReadOnly(st)) {
    errno = EACCES;
    return false;
  }
  return unlink(file.c_str()) == 0;
}

bool CopyFileOverwrite(std::string_view source, std::string_view target, Durability durability) {
  const std::string from = ToSystemPath(source);
  const std::string to = ToSystemPath(target);
  const int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) {
    return false;
  }
  struct stat sourceStat {};
  struct stat targetStat {};
  bool ok = fstat(in, &sourceStat) == 0 && S_ISREG(sourceStat.st_mode);
  if (ok && stat(to.c_str(), &targetStat) == 0) {
    // Opening the source itself as the target would empty it.
    ok = !(targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino) &&
         (!IsReadOnly(targetStat) || MakeWritable(to, targetStat));
  }
  if (!ok) {
    close(in);
    return false;
  }
  FileReplacement out(target, 0600);
  const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
  ok = out.valid() && CopyFileBytes(in, 0, out.fd(), -1) && fchmod(out.fd(), sourceStat.st_mode & 0777) == 0 &&
       futimens(out.fd(), times) == 0;
  close(in);
  return ok && out.Commit(durability);
}

bool CommitFileList(std::string_view source, std::string_view target) {
  return FlushFileSystemOf(FolderOfFile(target)) && CopyFileOverwrite(source, target, Durability::kFlushed);
}

bool ReadSmallFile(std::string_view path, uint64_t maxBytes, std::string& text) {
  const UniqueFd file = OpenForReading(path);
  struct stat info {};
  if (!file.valid() || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > maxBytes) {
    return false;
  }
  // Read up to the end rather than up to the size fstat gave: the files of
  // /proc report 0, and a file may grow meanwhile. One byte more than that
  // size lets the end show without growing the buffer.
  std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');
  size_t done = 0;
  for (;;) {
    if (done == bytes.size()) {
      if (done > maxBytes) return false;
      bytes.resize(std::max<size_t>(2 * done, 4096));
    }
    const ssize_t got = read(file.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  if (done > maxBytes) return false;
  bytes.resize(done);
  text = std::move(bytes);
  return true;
}

bool HoldSameBytes(std::string_view first, std::string_view second, uint64_t maxBytes) {
  std::string firstBytes;
  std::string secondBytes;
  return ReadSmallFile(first, maxBytes, firstBytes) && ReadSmallFile(second, maxBytes, secondBytes) &&
         firstBytes == secondBytes;
}

bool RewriteFile(std::string_view path, const void* data, size_t length) {
  const std::string file = ToSystemPath(path);
  struct stat st {};
  if ((data == nullptr && length > 0) || stat(file.c_str(), &st) != 0) {
    return false;
  }
  if (IsReadOnly(st) && !MakeWritable(file, st)) {
    return false;
  }
  FILE* stream = std::fopen(file.c_str(), "wb+e");
  if (stream == nullptr) {
    return false;
  }
  bool ok = length == 0 || std::fwrite(data, 1, length, stream) == length;
  ok = std::fflush(stream) == 0 && ok;
  ok = std::fclose(stream) == 0 && ok;
  return ok;
}
