// The launch log of a test's working folder, one message per entry, without
// the time stamps.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "util/LaunchLog.h"

namespace testsupport {

inline std::vector<std::string> LaunchLogLines(const std::filesystem::path& folder) {
  std::vector<std::string> lines;
  if (!std::filesystem::exists(folder / kLaunchLogName)) return lines;
  std::istringstream log(ReadFile(folder / kLaunchLogName));
  for (std::string line; std::getline(log, line);) lines.push_back(line.substr(line.find("]: ") + 3));
  return lines;
}

}  // namespace testsupport
