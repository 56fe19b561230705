#include "patch/SafeName.h"

#include <cctype>

bool IsSafeRelativeName(std::string_view name) {
  if (name.starts_with('\\') || name.starts_with('/')) return false;
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string FileSystemName(std::string_view name) {
  std::string result;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view component = name.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (!result.empty()) result += '/';
      result += component;
    }
    start = end + 1;
  }
  return result;
}
