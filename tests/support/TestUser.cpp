#include "tests/support/TestUser.h"

#include <cstdlib>

namespace testsupport {

std::optional<std::string> SwapEnv(const char* name, const std::optional<std::string>& value) {
  const char* old = std::getenv(name);
  std::optional<std::string> previous = old ? std::optional<std::string>(old) : std::nullopt;
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
  return previous;
}

TestUser::TestUser()
    : cwd_(dir_.path()),
      savedConfig_(SwapEnv("XDG_CONFIG_HOME", configDir().string())),
      savedPrefix_(SwapEnv("WINEPREFIX", winePrefix().string())) {}

TestUser::~TestUser() {
  SwapEnv("XDG_CONFIG_HOME", savedConfig_);
  SwapEnv("WINEPREFIX", savedPrefix_);
}

}  // namespace testsupport
