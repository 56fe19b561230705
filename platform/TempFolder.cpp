#include "platform/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

namespace {

// The system's temporary folder: the base when $TMPDIR is not usable, and
// the second place for a fresh folder.
constexpr const char* kSystemTemp = "/tmp";

// $TMPDIR when it is usable as a base, else "/tmp"; without trailing "/".
std::string TempBase() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : "";
  // A "\" would be read as a separator by the launcher's path handling.
  if (base.empty() || base.front() != '/' || base.find('\\') != std::string::npos) {
    base = kSystemTemp;
  }
  while (base.size() > 1 && base.back() == '/') {
    base.pop_back();
  }
  return base == "/" ? std::string() : base;
}

// Why `folder` cannot be the private folder, after creating it when it is
// missing; empty when it can. It must be a real folder of this user that no
// one else may enter or change (a folder others could write to may already
// hold planted files).
std::string WhyUnusable(const std::string& folder) {
  // What mkdir said matters only when no folder is there after it: a
  // folder that exists is judged by what it is, whatever the error.
  const int madeError = mkdir(folder.c_str(), 0700) == 0 ? 0 : errno;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT && madeError != 0) {
      return std::strerror(madeError);
    }
    return errno == ENOTDIR || errno == ELOOP ? "not a folder" : std::strerror(errno);
  }
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    why = "not a folder";
  } else if (st.st_uid != geteuid()) {
    why = "owned by another user";
  } else if ((st.st_mode & 077) != 0) {
    why = "open to other users";
  }
  close(fd);
  return why;
}

struct FreshFolders {
  std::mutex mutex;
  TempFolderNoticeHandler handler;
  // Fixed folder -> the fresh folder that replaces it ("" when none could be
  // made), so that every call of the process finds the same files.
  std::map<std::string, std::string> replacements;
};

FreshFolders& Fresh() {
  static FreshFolders* fresh = new FreshFolders;  // never destroyed: any thread may ask until the end
  return *fresh;
}

// A fresh private folder for the user below the first of `bases` that
// allows one; empty when none does.
std::string MakeFreshFolder(std::initializer_list<std::string_view> bases) {
  for (std::string_view base : bases) {
    if (base.empty()) {
      continue;  // never at the root of the file system
    }
    std::string pattern = std::string(base) + "/tovalauncher-" + std::to_string(geteuid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      return pattern;
    }
  }
  return {};
}

}  // namespace

std::string GetTempFolderPath() {
  const std::string base = TempBase();
  const std::string fixed = base + "/tovalauncher-" + std::to_string(geteuid());
  FreshFolders& fresh = Fresh();
  std::unique_lock lock(fresh.mutex);
  const auto known = fresh.replacements.find(fixed);
  if (known != fresh.replacements.end() && !known->second.empty() && WhyUnusable(known->second).empty()) {
    return known->second + "/";
  }
  const std::string why = WhyUnusable(fixed);
  if (why.empty()) {
    return fixed + "/";
  }
  if (known != fresh.replacements.end() && known->second.empty()) {
    return {};  // told already: no fresh folder can be made
  }
  const std::string folder = MakeFreshFolder({base, kSystemTemp});
  fresh.replacements[fixed] = folder;
  static const bool removedAtExit = std::atexit(RemoveFreshTempFolders) == 0;
  static_cast<void>(removedAtExit);
  const std::string notice = "temporary folder " + fixed + " cannot be used (" + why + "), " +
                             (folder.empty() ? "and no fresh one can be made" : "using " + folder + " instead");
  const TempFolderNoticeHandler handler = fresh.handler;
  lock.unlock();
  if (handler) {
    handler(notice);
  }
  return folder.empty() ? std::string() : folder + "/";
}

// No other process finds a fresh folder, so it goes with the process that
// made it, with what it holds.
void RemoveFreshTempFolders() {
  FreshFolders& fresh = Fresh();
  std::lock_guard lock(fresh.mutex);
  for (const auto& [fixed, folder] : fresh.replacements) {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
}

void SetTempFolderNoticeHandler(TempFolderNoticeHandler handler) {
  FreshFolders& fresh = Fresh();
  std::lock_guard lock(fresh.mutex);
  fresh.handler = std::move(handler);
}
