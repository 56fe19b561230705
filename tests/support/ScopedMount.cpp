#include "tests/support/ScopedMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

ScopedMount::ScopedMount(const std::filesystem::path& at, uint64_t bytes) : at_(at) {
  std::filesystem::create_directories(at);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    problem_ = "cannot mount a tmpfs at " + at.string() + ": " + std::strerror(errno);
  }
}

ScopedMount::~ScopedMount() {
  if (ok()) umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
