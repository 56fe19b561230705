#include "platform/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace {

// $TMPDIR when it is usable as a base, else "/tmp"; without trailing "/".
std::string TempBase() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : "";
  // A "\" would be read as a separator by the launcher's path handling.
  if (base.empty() || base.front() != '/' || base.find('\\') != std::string::npos) {
    base = "/tmp";
  }
  while (base.size() > 1 && base.back() == '/') {
    base.pop_back();
  }
  return base == "/" ? std::string() : base;
}

// The folder is private when it is a real folder of this user that no one
// else may enter or change (a folder others could write to may already hold
// planted files).
bool IsPrivateFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat st {};
  const bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string GetTempFolderPath() {
  const std::string folder = TempBase() + "/tovalauncher-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return {};
  }
  return IsPrivateFolder(folder) ? folder + "/" : std::string();
}
