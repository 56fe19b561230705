// Moving file data: writes of whole buffers, and copies that leave the bytes
// in the kernel (copy_file_range) or give a second name to the same file (hard
// link), so a patch's data passes through user space only where it has to be
// decoded. Paths are in the launcher's "\" form. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "util/DiskFlush.h"

// An open file descriptor, closed when the object goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false when there was nothing to close or close() reports an
  // error (a write that did not reach the file).
  bool Close();

 private:
  int fd_;
};

// Opens the file for reading. Check valid() on the result.
[[nodiscard]] UniqueFd OpenForReading(std::string_view path);

// Creates `path` as a new, empty file for writing: an existing file of that
// name is removed first, so data it shared with another name stays unchanged.
// Check valid() on the result.
[[nodiscard]] UniqueFd CreateFreshFile(std::string_view path);

// A file that takes the place of `path` only once it is complete, so that the
// name holds either the old bytes or all of the new ones, also when the
// process is killed or the disk fills up on the way: the bytes go to a file
// without a name in the target's folder (O_TMPFILE), and Commit gives it a
// name next to the target ("<path>.tova-part", replacing one an earlier,
// interrupted commit left) and renames that over the target; a target that is
// a symbolic link stands for the file it leads to. Where the file
// system has no unnamed files, the target itself is created or truncated and
// written, and Commit only closes it. Abandoned (destroyed without Commit),
// the unnamed file vanishes; in the fallback the partial target is removed.
// One thread uses an object.
class FileReplacement {
 public:
  // The new file gets the permission bits `mode` (less the umask).
  FileReplacement(std::string_view path, unsigned mode);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  // Closes the file and puts it in place of the target. False when closing
  // reports a failed write or the file cannot be named; the target then keeps
  // its old bytes (in the fallback, it is removed). With kFlushed the bytes
  // are on the disk before the file gets its name, and the folder's entry
  // before the return, so that after a power cut the name holds the old file
  // or the whole new one; false also when a flush fails (after the rename,
  // the new file stays in place although it may not be durable).
  [[nodiscard]] bool Commit(Durability durability = Durability::kCached);

 private:
  std::string path_;  // the target, in the system's form
  bool unnamed_;      // written without a name; otherwise the target itself
  UniqueFd fd_;
  bool done_ = false;
};

// Writes all `length` bytes at the current position. False on any failure.
[[nodiscard]] bool WriteFileBytes(int fd, const void* data, size_t length);

// Copies `length` bytes of `in`, starting at `offset`, to the current position
// of `out`; a negative `length` copies up to the end of `in`. Falls back to
// reading and writing where the kernel cannot copy between the two files.
// False when fewer bytes than asked for could be copied or a call fails.
[[nodiscard]] bool CopyFileBytes(int in, int64_t offset, int out, int64_t length);

// Replaces whatever `target` names by a second name of the file `source`
// (a hard link), or where that cannot be made (another file system) by a copy
// made with CopyFileOverwrite. Afterwards both paths read the same bytes with
// the same permission bits and times; the callers never write into either
// file in place (every write goes to a fresh file), so the shared data is not
// observable. False when neither works.
[[nodiscard]] bool LinkOrCopyFile(std::string_view source, std::string_view target);
