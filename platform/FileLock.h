// An exclusive lock on a file (flock), the way one running program claims a
// folder. The lock belongs to the open file, not to the process: it lasts
// while the descriptor stays open, also through a replacement of the process
// image that keeps the descriptor (ReplaceProcessImage), and the system
// drops it when its holder ends, however it ends.
//
// Thread: one thread at a time per object.
#pragma once

#include <string_view>

class FileLock {
 public:
  enum class Result {
    kLocked,  // the lock is held by this object
    kHeld,    // another open of the file holds it
    kFailed,  // the file cannot be opened or locked
  };

  FileLock() = default;
  // Closes the descriptor: the lock is released unless an image it was
  // handed to still holds it.
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock on the file at `path` ("\" form), creating it (mode 0644)
  // when missing; a symbolic link is not followed. Does not wait. On kFailed,
  // `*error` (when given) is the errno.
  Result Lock(std::string_view path, int* error = nullptr);

  // Takes over `descriptor`, inherited from the image before this one, when
  // it is an open of the regular file at `path` and the lock can be held on
  // it (an open that already holds the lock keeps it). False, leaving the
  // descriptor as it is, otherwise.
  bool Adopt(int descriptor, std::string_view path);

  // The descriptor holding the lock (close-on-exec), or -1.
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};
