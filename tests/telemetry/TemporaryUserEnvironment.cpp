// Outside a TestUser, the whole telemetry test program still runs as a user of
// its own, so that no test reads or writes the real user's registry store.
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/TempDir.h"
#include "tests/support/TestUser.h"

namespace {

class TemporaryUserEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>();
    testsupport::SwapEnv("XDG_CONFIG_HOME", (dir_->path() / "config").string());
    testsupport::SwapEnv("WINEPREFIX", (dir_->path() / "wine").string());
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new TemporaryUserEnvironment);

}  // namespace
