// What the publisher refuses to publish, and that a refusal leaves nothing
// behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/PublishRules.h"
#include "tools/publisher/ServerTreePublisher.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(PublishRulesTest, VersionTexts) {
  struct Case {
    std::string version;
    bool accepted;
  };
  const Case cases[] = {
      {"1.0.2", true},
      {"2024-05_rc+1", true},
      {std::string(61, '9'), true},
      {std::string(62, '9'), false},  // its version file would reach 64 bytes
      {"", false},
      {"1.0 beta", false},  // read back without its blanks
      {"1/2", false},
      {"1\\2", false},
      {"1,2", false},
      {"..", true},  // only a part of folder names, never a whole one
  };
  for (const Case& c : cases) EXPECT_EQ(CheckVersionText(c.version).empty(), c.accepted) << c.version;
}

TEST(PublishRulesTest, FileNames) {
  struct Case {
    std::string name;
    bool accepted;
  };
  const Case cases[] = {
      {"client/meadow_jp.exe", true},
      {"data/a b (1).dat", true},
      {"x", true},
      {std::string(kMaxFileNameLength, 'a'), true},
      {std::string(kMaxFileNameLength + 1, 'a'), false},
      {"a,b.txt", false},    // field separator
      {"a#b.txt", false},    // comment in lists
      {"a?b.txt", false},    // ends the download address
      {"dir\\file", false},  // a separator to the launcher
      {" lead.txt", false},  // trimmed by the INI readers
      {"trail.txt ", false},
      {"data/\xE8\xAA\xAC\xE6\x98\x8E/\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.txt", true},  // data/説明/セーブ.txt
      {"caf\xc3\xa9.txt", true},                                                         // code page 936 has é
      {"\xED\x95\x9C.txt", false},  // lists name files in code page 936, which has no Hangul
      {"caf\xe9.txt", false},       // not UTF-8
      {"del\x7f.txt", false},
      {"tab\there", false},
      {"../up.txt", false},
      {"a/../b", false},
      {"C:drive.txt", false},
      {"a//b", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckFileName(c.name).empty(), c.accepted) << c.name;
}

struct RefusalCase {
  const char* name;
  std::function<void(const fs::path& root, PublishSettings& settings)> prepare;
  const char* expectedError;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

// Two plain versions; each case spoils them in one way.
PublishSettings TwoVersions(const fs::path& root) {
  PublishSettings settings;
  settings.outputFolder = (root / "tree").string();
  settings.gameVersions = publishtest::WriteVersions(
      root / "input", {{"1.0", {{"a.txt", "a"}, {"dir/b.txt", "b"}}}, {"1.1", {{"a.txt", "A"}, {"dir/b.txt", "b"}}}});
  return settings;
}

const std::vector<RefusalCase>& RefusalCases() {
  static const std::vector<RefusalCase> cases = {
      {"NoVersion", [](const fs::path&, PublishSettings& s) { s.gameVersions.clear(); }, "no launcher or game version"},
      {"VersionTwice", [](const fs::path&, PublishSettings& s) { s.gameVersions[1].version = "1.0"; },
       "game version 1.0 is given twice"},
      {"BadVersionText", [](const fs::path&, PublishSettings& s) { s.gameVersions[1].version = "1.1 beta"; },
       "game version \"1.1 beta\""},
      {"MissingFolder",
       [](const fs::path& root, PublishSettings& s) { s.gameVersions[0].folder = (root / "nope").string(); },
       "is not a folder"},
      {"OutputNotEmpty", [](const fs::path& root, PublishSettings&) { WriteFile(root / "tree/keep.txt", "mine"); },
       "exists and is not an empty folder"},
      {"NameWithComma", [](const fs::path& root, PublishSettings&) { WriteFile(root / "input/1.1/a,b.txt", "x"); },
       "a,b.txt: the name holds ','"},
      {"NameOutsideCodePage936",
       [](const fs::path& root, PublishSettings&) { WriteFile(root / "input/1.1/\xED\x95\x9C.txt", "x"); },
       "\xED\x95\x9C.txt: the name cannot be written in code page 936"},
      {"SymbolicLink",
       [](const fs::path& root, PublishSettings&) { fs::create_symlink("a.txt", root / "input/1.1/link.txt"); },
       "link.txt is not a regular file or folder"},
      {"FolderBecomesFile",
       [](const fs::path& root, PublishSettings&) {
         fs::remove_all(root / "input/1.1/dir");
         WriteFile(root / "input/1.1/dir", "now a file");
       },
       "patch 1.0 -> 1.1: the folder dir becomes a file"},
      {"StagingConflict",
       [](const fs::path& root, PublishSettings&) { WriteFile(root / "input/1.1/Unzip/a.txt", "x"); },
       "the files Unzip/a.txt and a.txt would meet in the applier's staging folder"},
      {"ZeroPackageSize", [](const fs::path&, PublishSettings& s) { s.maxPackageSize = 0; }, "must be at least 1"},
      {"LauncherWorkingFile",
       [](const fs::path& root, PublishSettings& s) {
         s.launcherVersions = publishtest::WriteVersions(
             root / "launcher", {{"1.0.0", {{"TovaLauncher.exe", "launcher"}, {"TovaLaunch.bin", "stray copy"}}}});
       },
       "TovaLaunch.bin: the launcher writes this file itself"},
  };
  return cases;
}

class PublishRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(PublishRefusalTest, RefusesAndLeavesNoTree) {
  TempDir dir;
  testsupport::CurrentDirScope cwd(dir.path());
  PublishSettings settings = TwoVersions(dir.path());
  GetParam().prepare(dir.path(), settings);
  bool hadOutput = fs::exists(dir.path() / "tree");

  std::string error;
  EXPECT_FALSE(PublishServerTree(settings, error));
  EXPECT_NE(error.find(GetParam().expectedError), std::string::npos) << error;
  EXPECT_EQ(fs::exists(dir.path() / "tree"), hadOutput);
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".publish-"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Refusals, PublishRefusalTest, testing::ValuesIn(RefusalCases()),
                         [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(PublishTest, EmptyOutputFolderIsFilledAndSingleVersionIsUpToDate) {
  TempDir dir;
  testsupport::CurrentDirScope cwd(dir.path());
  PublishSettings settings;
  settings.outputFolder = (dir.path() / "tree").string() + "/";
  fs::create_directory(dir.path() / "tree");
  settings.gameVersions = publishtest::WriteVersions(dir.path() / "input", {{"1.0", {{"a.txt", "a"}}}});
  std::string error;
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;
  // PatchNum 0 would make the launcher refuse the list; an announced but
  // absent section leaves no patch, and 1.0 counts as current.
  EXPECT_EQ(testsupport::ReadFile(dir.path() / "tree/AutoPatch/AutoPatch.ini"),
            "[PatchHistory]\r\nPatchNum=1\r\nVersionNow=1.0\r\n");
  EXPECT_TRUE(fs::exists(dir.path() / "tree/GameVersion/Game_1.0/a.txt"));
}

}  // namespace
