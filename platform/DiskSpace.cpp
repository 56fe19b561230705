#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include "platform/SystemPath.h"

bool GetDiskFreeBytes(std::string_view path, uint64_t& bytes) {
  struct statvfs info {};
  if (statvfs(ToSystemPath(path).c_str(), &info) != 0) {
    return false;
  }
  bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}
