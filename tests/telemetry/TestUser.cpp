#include "tests/telemetry/TestUser.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

namespace {

// Outside a TestUser, the whole program still runs as a user of its own.
class TemporaryUserEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>();
    SwapEnv("XDG_CONFIG_HOME", (dir_->path() / "config").string());
    SwapEnv("WINEPREFIX", (dir_->path() / "wine").string());
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new TemporaryUserEnvironment);

}  // namespace
