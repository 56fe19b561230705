// The launcher keeps fixed file names in the user's temporary folder, and
// ctest runs test processes side by side. Every test program is built with
// this file, so each process points $TMPDIR at a folder of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

class PrivateTempEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (const char* old = std::getenv("TMPDIR")) previous_ = old;
    std::string pattern = (std::filesystem::temp_directory_path() / "launcher-tests-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    setenv("TMPDIR", folder_.c_str(), 1);
  }

  void TearDown() override {
    if (previous_)
      setenv("TMPDIR", previous_->c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::optional<std::string> previous_;
  std::string folder_;
};

testing::Environment* const gPrivateTemp = testing::AddGlobalTestEnvironment(new PrivateTempEnvironment);

}  // namespace
