#include "util/FileTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/SystemPath.h"
#include "util/FileUtil.h"

namespace {

constexpr size_t kFallbackPiece = size_t{1} << 20;
constexpr size_t kKernelPiece = size_t{1} << 30;

bool KernelCannotCopy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

// Reads and writes through a buffer; `remaining` < 0 means to the end.
bool CopyThroughBuffer(int in, off_t offset, int out, int64_t remaining) {
  std::vector<char> buffer(kFallbackPiece);
  while (remaining != 0) {
    size_t want = remaining < 0 ? buffer.size() : std::min<size_t>(buffer.size(), static_cast<size_t>(remaining));
    ssize_t got = pread(in, buffer.data(), want, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return remaining < 0;
    if (!WriteFileBytes(out, buffer.data(), static_cast<size_t>(got))) return false;
    offset += got;
    if (remaining > 0) remaining -= got;
  }
  return true;
}

// The file a symbolic link leads to, which is what writing to the link
// changes; any other path as it is.
std::string FollowedLink(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  free(resolved);
  return target;
}

// An unnamed file in the folder of `path`, or where the file system has
// none, `path` itself created or truncated; `unnamed` tells which.
int OpenReplacement(const std::string& path, unsigned mode, bool& unnamed) {
  const int fd = open(FolderOfFile(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  unnamed = fd >= 0;
  return unnamed ? fd : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
}

}  // namespace

bool UniqueFd::Close() {
  if (fd_ < 0) return false;
  return close(std::exchange(fd_, -1)) == 0;
}

UniqueFd OpenForReading(std::string_view path) {
  return UniqueFd(open(ToSystemPath(path).c_str(), O_RDONLY | O_CLOEXEC));
}

UniqueFd CreateFreshFile(std::string_view path) {
  std::string systemPath = ToSystemPath(path);
  unlink(systemPath.c_str());
  return UniqueFd(open(systemPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

FileReplacement::FileReplacement(std::string_view path, unsigned mode)
    : path_(FollowedLink(ToSystemPath(path))), unnamed_(false), fd_(OpenReplacement(path_, mode, unnamed_)) {}

FileReplacement::~FileReplacement() {
  if (done_ || !fd_.valid()) return;
  fd_.Close();
  if (!unnamed_) unlink(path_.c_str());
}

bool FileReplacement::Commit(Durability durability) {
  if (done_ || !fd_.valid()) return false;
  done_ = true;
  const bool flush = durability == Durability::kFlushed;
  const bool flushed = !flush || fdatasync(fd_.get()) == 0;
  if (!unnamed_) {
    if (fd_.Close() && flushed && (!flush || FlushFolder(FolderOfFile(path_)))) return true;
    unlink(path_.c_str());
    return false;
  }
  const std::string part = path_ + ".tova-part";
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  bool named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, part.c_str(), AT_SYMLINK_FOLLOW) == 0;
  if (!named && errno == EEXIST) {
    unlink(part.c_str());
    named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, part.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  const bool written = fd_.Close() && flushed;
  if (named && written && rename(part.c_str(), path_.c_str()) == 0) return !flush || FlushFolder(FolderOfFile(path_));
  if (named) unlink(part.c_str());
  return false;
}

bool WriteFileBytes(int fd, const void* data, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool CopyFileBytes(int in, int64_t offset, int out, int64_t length) {
  off_t position = offset;
  int64_t remaining = length;
  while (remaining != 0) {
    size_t want = remaining < 0 ? kKernelPiece : std::min<size_t>(kKernelPiece, static_cast<size_t>(remaining));
    ssize_t copied = copy_file_range(in, &position, out, nullptr, want, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0) return KernelCannotCopy(errno) && CopyThroughBuffer(in, position, out, remaining);
    if (copied == 0) return remaining < 0;
    if (remaining > 0) remaining -= copied;
  }
  return true;
}

bool LinkOrCopyFile(std::string_view source, std::string_view target) {
  const std::string targetPath = ToSystemPath(target);
  unlink(targetPath.c_str());
  if (link(ToSystemPath(source).c_str(), targetPath.c_str()) == 0) return true;
  return CopyFileOverwrite(source, target);
}
