#include "patch/SafeName.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "platform/CodePage936.h"

namespace {

// The components of `name` between "\" or "/" separators, empty ones kept.
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> components;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    components.push_back(name.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

// `path` applied to the absolute folder `base` (components below the root),
// without asking the file system: "." and empty components stay, ".." goes
// up, and a path that starts with a separator starts from the root.
std::vector<std::string> Resolve(std::vector<std::string> base, std::string_view path) {
  if (path.starts_with('\\') || path.starts_with('/')) base.clear();
  for (std::string_view component : Components(path)) {
    if (component.empty() || component == ".") continue;
    if (component != "..") {
      base.emplace_back(component);
    } else if (!base.empty()) {
      base.pop_back();
    }
  }
  return base;
}

}  // namespace

bool IsSafeRelativeName(std::string_view name) {
  if (name.starts_with('\\') || name.starts_with('/')) return false;
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  const std::vector<std::string_view> components = Components(name);
  return std::find(components.begin(), components.end(), "..") == components.end();
}

bool LocalNameOf(std::string_view listed, std::string& local) {
  if (CodePage936ToUtf8(listed, local) && IsSafeRelativeName(local)) return true;
  local.clear();
  return false;
}

std::string FileSystemName(std::string_view name) {
  std::string result;
  for (std::string_view component : Components(name)) {
    if (component.empty() || component == ".") continue;
    if (!result.empty()) result += '/';
    result += component;
  }
  return result;
}

LauncherFolderGuard::LauncherFolderGuard(std::string_view folder) {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return;
  launcher_ = Resolve({}, current.native());
  folder_ = Resolve(launcher_, folder);
  known_ = true;
}

bool LauncherFolderGuard::InLauncher(const std::vector<std::string>& path) const {
  return path.size() >= launcher_.size() && std::equal(launcher_.begin(), launcher_.end(), path.begin());
}

bool LauncherFolderGuard::Enters(std::string_view name) const {
  return known_ && !InLauncher(folder_) && InLauncher(Resolve(folder_, name));
}
