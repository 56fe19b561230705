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

bool GetDiskFreeBytesFor(std::string_view path, uint64_t& bytes, std::string* asked) {
  const auto ask = [&bytes, asked](std::string_view candidate) {
    if (!GetDiskFreeBytes(candidate, bytes)) return false;
    if (asked != nullptr) *asked = std::string(candidate);
    return true;
  };
  while (!ask(path)) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string_view::npos) return ask(".");
    if (cut == 0) return ask(path.substr(0, 1));
    path = path.substr(0, cut);
  }
  return true;
}
