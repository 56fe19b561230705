// Inputs with which fuzzing found faults in the patch engine's readers
// (tests/data/fuzz/<target>/), replayed through the same calls as the fuzz
// target. Each must now finish with the result given.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "patch/QoPatchInfo.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Finding(const std::string& target, const std::string& name) {
  return ReadFile(std::filesystem::path(TEST_SUPPORT_DIR) / ".." / "data" / "fuzz" / target / name);
}

class FuzzFindingsTest : public testing::Test {
 protected:
  FuzzFindingsTest() : cwd_(dir_.path()) {}
  TempDir dir_;
  CurrentDirScope cwd_;  // the launch log is written here
};

TEST_F(FuzzFindingsTest, PatchDescriptions) {
  const struct {
    const char* name;
    int expected;
  } cases[] = {
      // fileCount 9109260 over a handful of File keys: read once per
      // announced file, it ran for minutes.
      {"file-count-9109260.ini", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = Finding("patch_info", c.name);
    ASSERT_FALSE(input.empty());
    WriteFile("patchinfo.ini", input);
    WriteFile("intallinfo.ini", input);
    QoPatchInfo patch;
    EXPECT_EQ(patch.InputPatchInfoFile("patchinfo.ini"), c.expected);
    QoPatchInfo list;
    EXPECT_EQ(list.InputPackageList("intallinfo.ini"), c.expected);
  }
}

}  // namespace
