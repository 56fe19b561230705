#include "patch/SafeName.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <vector>

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

std::string FileSystemName(std::string_view name) {
  std::string result;
  for (std::string_view component : Components(name)) {
    if (component.empty() || component == ".") continue;
    if (!result.empty()) result += '/';
    result += component;
  }
  return result;
}

bool EntersLauncherFolder(std::string_view folder, std::string_view name) {
  char current[PATH_MAX];
  if (getcwd(current, sizeof current) == nullptr) return false;
  const std::vector<std::string> launcher = Resolve({}, current);
  auto inLauncher = [&launcher](const std::vector<std::string>& path) {
    return path.size() >= launcher.size() && std::equal(launcher.begin(), launcher.end(), path.begin());
  };
  const std::vector<std::string> target = Resolve(launcher, folder);
  return !inLauncher(target) && inLauncher(Resolve(target, name));
}
