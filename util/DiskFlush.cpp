#include "util/DiskFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/SystemPath.h"
#include "util/FileTransfer.h"

namespace {

// `path` opened for reading only; a named pipe does not block the open.
UniqueFd OpenForFlush(std::string_view path, int extraFlags) {
  return UniqueFd(open(ToSystemPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags));
}

}  // namespace

bool FlushFileSystemOf(std::string_view path) {
  const UniqueFd fd = OpenForFlush(path, 0);
  return fd.valid() && syncfs(fd.get()) == 0;
}

bool FlushFolder(std::string_view folder) {
  const UniqueFd fd = OpenForFlush(folder, O_DIRECTORY);
  return fd.valid() && fsync(fd.get()) == 0;
}
