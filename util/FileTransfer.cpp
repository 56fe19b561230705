#include "util/FileTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
