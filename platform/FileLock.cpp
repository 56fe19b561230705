#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/SystemPath.h"

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);
}

FileLock::Result FileLock::Lock(std::string_view path, int* error) {
  const std::string file = ToSystemPath(path);
  const int fd = open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = errno;
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int failure = errno;
    close(fd);
    if (failure == EWOULDBLOCK) return Result::kHeld;
    if (error != nullptr) *error = failure;
    return Result::kFailed;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return Result::kLocked;
}

bool FileLock::Adopt(int descriptor, std::string_view path) {
  struct stat held {};
  struct stat named {};
  if (descriptor < 0 || fstat(descriptor, &held) != 0 || !S_ISREG(held.st_mode)) return false;
  if (lstat(ToSystemPath(path).c_str(), &named) != 0 || held.st_dev != named.st_dev || held.st_ino != named.st_ino)
    return false;
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) return false;
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  if (fd_ >= 0 && fd_ != descriptor) close(fd_);
  fd_ = descriptor;
  return true;
}
