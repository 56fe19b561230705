// A published tree used the way the launcher uses it: the pages of the first
// version installed and both patches applied by the launcher's own applier
// give the last version byte for byte, and the check of the tree agrees.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "patch/QoPatchUser.h"
#include "patch/QoVersionRepairInfo.h"
#include "tests/support/TempDir.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/ServerLayout.h"
#include "tools/publisher/ServerTreePublisher.h"
#include "tools/publisher/ServerTreeVerifier.h"
#include "tools/publisher/TreeCompare.h"

namespace fs = std::filesystem;
using testsupport::CurrentDirScope;
using testsupport::TempDir;

namespace {

std::string InstalledVersion(const fs::path& game) {
  QoVersionRepairInfo list(nullptr);
  if (!list.InputVerRepairFileList((game / kVersionListName).string())) return "unreadable";
  return list.version();
}

class ServerTreeRoundTripTest : public testing::TestWithParam<bool> {
 protected:
  ServerTreeRoundTripTest() : cwd_(dir_.path()) {}

  TempDir dir_;
  CurrentDirScope cwd_;  // launch-log lines of the applier land here
};

TEST_P(ServerTreeRoundTripTest, InstalledAndPatchedGameEqualsLastVersion) {
  const fs::path base = dir_.path() / "tree";
  const auto versions = publishtest::ThreeGameVersions();
  PublishSettings settings;
  settings.outputFolder = base.string();
  settings.gameVersions = publishtest::WriteVersions(dir_.path() / "input", versions);
  settings.launcherVersions = publishtest::WriteVersions(dir_.path() / "launcher", {publishtest::LauncherVersion()});
  settings.protect = GetParam();
  std::string error;
  ASSERT_TRUE(PublishServerTree(publishtest::SmallLimits(settings), error)) << error;

  const fs::path game = dir_.path() / "game";
  ASSERT_EQ(publishtest::InstallPages(base, "1.0", game), CpUserResult::CP_USER_SUCCESS);
  EXPECT_EQ(InstalledVersion(game), "1.0");
  ASSERT_EQ(publishtest::ApplyPatch(base, "1.0", "1.1", game), CpUserResult::CP_USER_SUCCESS);
  EXPECT_EQ(InstalledVersion(game), "1.1");
  ASSERT_EQ(publishtest::ApplyPatch(base, "1.1", "1.2", game), CpUserResult::CP_USER_SUCCESS);
  EXPECT_EQ(InstalledVersion(game), "1.2");

  // Every file of the last version, nothing else, and the published list.
  EXPECT_EQ(CompareFolders(settings.gameVersions.back().folder, game.string(), "launcher"),
            std::vector<std::string>{"GameInfo.ini should not be there"});
  EXPECT_TRUE(SameFileBytes((game / kVersionListName).string(),
                            (base / GameTreeLayout().Folder("1.2") / kVersionListName).string()));

  std::vector<std::string> problems;
  EXPECT_TRUE(VerifyServerTree(base.string(), problems));
  EXPECT_EQ(problems, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(ProtectedAndPlain, ServerTreeRoundTripTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Protected" : "Plain"; });

}  // namespace
