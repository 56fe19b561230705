#include "platform/SystemPath.h"

#include <algorithm>

std::string ToSystemPath(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}
