// The check of a tree finds each kind of fault a tree can have: files that
// do not match their lists, broken packages and descriptions, version files
// and patch lists that lead nowhere, and patches that do not produce the
// next version.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "patch/ProtectedFile.h"
#include "tests/support/TempDir.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/ServerLayout.h"
#include "tools/publisher/ServerTexts.h"
#include "tools/publisher/ServerTreeVerifier.h"
#include "tools/publisher/SourceTree.h"

namespace fs = std::filesystem;
using testsupport::CurrentDirScope;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

void ReplaceText(const fs::path& path, const std::string& from, const std::string& to) {
  std::string text = ReadFile(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  WriteFile(path, text.replace(at, from.size(), to));
}

// A consistent repair folder whose file differs from what the patch makes.
void RepublishGameFolder(const fs::path& folder, const std::string& version) {
  std::vector<SourceFile> files;
  std::string error;
  ASSERT_TRUE(ScanSourceTree(folder.string(), files, error)) << error;
  ASSERT_TRUE(WriteServerText((folder / kVersionListName).string(), FormatVersionList(version, files), false, error));
}

struct TamperCase {
  const char* name;
  std::function<void(const fs::path& base)> tamper;
  const char* expectedProblem;
};

void PrintTo(const TamperCase& c, std::ostream* out) { *out << c.name; }

const std::vector<TamperCase>& TamperCases() {
  static const std::vector<TamperCase> cases = {
      {"FileChangedInRepairFolder",
       [](const fs::path& base) { WriteFile(base / "GameVersion/Game_1.0/readme.txt", "FIRST\n"); },
       "GameVersion/Game_1.0/GameInfo.ini: readme.txt has the MD5"},
      {"UnlistedFile", [](const fs::path& base) { WriteFile(base / "GameVersion/Game_1.1/extra.txt", "x"); },
       "GameVersion/Game_1.1/extra.txt is not listed"},
      {"ListedFileMissing", [](const fs::path& base) { fs::remove(base / "GameVersion/Game_1.2/zero.bin"); },
       "GameVersion/Game_1.2/GameInfo.ini: zero.bin: cannot read"},
      {"ListOfAnotherVersion",
       [](const fs::path& base) {
         fs::copy_file(base / "GameVersion/Game_1.0/GameInfo.ini", base / "GameVersion/Game_1.1/GameInfo.ini",
                       fs::copy_options::overwrite_existing);
       },
       "GameVersion/Game_1.1/GameInfo.ini declares version 1.0"},
      {"PackageCorrupted",
       [](const fs::path& base) {
         fs::path package = base / "AutoPatch/AutoPatch_1.0_1.1/package0.zip";
         std::string bytes = ReadFile(package);
         bytes[bytes.size() / 2] ^= 0x55;
         WriteFile(package, bytes);
       },
       "AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini: package0.zip has the MD5"},
      {"PageMissing", [](const fs::path& base) { fs::remove(base / "InstallVersion/InstallPage_1.0/page0.zip"); },
       "InstallVersion/InstallPage_1.0/intallinfo_1.0.ini: Package0: cannot read"},
      {"InstallDescriptionProtected",
       [](const fs::path& base) {
         ProtectionKey key;
         BuildProtectionKey(key);
         ASSERT_TRUE(ProtectFile(key, (base / "InstallVersion/InstallPage_1.2/intallinfo_1.2.ini").string()));
       },
       "intallinfo_1.2.ini: the procedure reads 0 packages"},
      {"VersionFileNamesUnknownVersion",
       [](const fs::path& base) { WriteFile(base / "GameVersion/version", "9.9\r\n"); },
       "GameVersion/version names 9.9, which has no folder"},
      {"PatchDescriptionOfOtherVersions",
       [](const fs::path& base) {
         ReplaceText(base / "AutoPatch/AutoPatch_1.1_1.2/patchinfo_1.1_1.2.ini", "VersionNew=1.2", "VersionNew=1.3");
       },
       "patchinfo_1.1_1.2.ini describes 1.1 -> 1.3"},
      {"ChainBroken",
       [](const fs::path& base) {
         ReplaceText(base / "AutoPatch/AutoPatch.ini", "VersionFrom=1.0", "VersionFrom=0.9");
       },
       "game version 1.0 has no chain of patches to 1.2"},
      {"PatchListMissing", [](const fs::path& base) { fs::remove(base / "AutoPatch/AutoPatch.ini"); },
       "AutoPatch/AutoPatch.ini is missing"},
      {"PatchResultDiffers",
       [](const fs::path& base) {
         WriteFile(base / "GameVersion/Game_1.2/data/table.csv", "another table\n");
         RepublishGameFolder(base / "GameVersion/Game_1.2", "1.2");
       },
       "AutoPatch/AutoPatch_1.1_1.2: the patched game differs from GameVersion/Game_1.2: data/table.csv differs"},
  };
  return cases;
}

class ServerTreeVerifierTest : public testing::TestWithParam<TamperCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    PublishSettings settings;
    settings.outputFolder = (dir_->path() / "tree").string();
    settings.gameVersions = publishtest::WriteVersions(dir_->path() / "input", publishtest::ThreeGameVersions());
    settings.protect = false;
    std::string error;
    ASSERT_TRUE(PublishServerTree(publishtest::SmallLimits(settings), error)) << error;
  }
  static void TearDownTestSuite() { delete dir_; }

  ServerTreeVerifierTest() : cwd_(scratch_.path()) {}

  // A copy of the published tree.
  fs::path CopyOfTree() {
    fs::path copy = scratch_.path() / "tree";
    fs::copy(dir_->path() / "tree", copy, fs::copy_options::recursive);
    return copy;
  }

  static TempDir* dir_;
  TempDir scratch_;
  CurrentDirScope cwd_;
};

TempDir* ServerTreeVerifierTest::dir_ = nullptr;

TEST_P(ServerTreeVerifierTest, FindsTheFault) {
  const TamperCase& tamper = GetParam();
  fs::path base = CopyOfTree();
  tamper.tamper(base);

  std::vector<std::string> problems;
  EXPECT_FALSE(VerifyServerTree(base.string(), problems));
  bool found = false;
  for (const std::string& problem : problems) found |= problem.find(tamper.expectedProblem) != std::string::npos;
  EXPECT_TRUE(found) << "expected: " << tamper.expectedProblem << "\nfound:\n" << testing::PrintToString(problems);
  // The tree is only read, and the scratch folder goes away.
  EXPECT_FALSE(fs::exists(scratch_.path() / "Launch.log"));
}

INSTANTIATE_TEST_SUITE_P(Faults, ServerTreeVerifierTest, testing::ValuesIn(TamperCases()),
                         [](const testing::TestParamInfo<TamperCase>& info) { return info.param.name; });

// A tree protected with a seed other than the build's: the one problem is
// that its lists cannot be deciphered, not what their contents would seem to
// say. The launcher's code that a check runs writes nothing to standard
// output, which is the report's.
TEST_F(ServerTreeVerifierTest, AnotherSeedIsOneProblemAndTheEngineKeepsQuiet) {
  const fs::path base = CopyOfTree();
  ProtectionKey key;
  BuildProtectionKey(key, LAUNCHER_PROTECTION_SEED + 1);
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    const std::string name = entry.path().filename().string();
    if (name == kVersionListName || name.starts_with("patchinfo_")) {
      ASSERT_TRUE(ProtectFile(key, entry.path().string())) << entry.path();
    }
  }
  std::vector<std::string> problems;
  EXPECT_FALSE(VerifyServerTree(base.string(), problems));
  ASSERT_EQ(problems.size(), 1u) << testing::PrintToString(problems);
  EXPECT_TRUE(problems[0].starts_with("the lists cannot be deciphered with the seed " +
                                      std::to_string(LAUNCHER_PROTECTION_SEED) + " ("))
      << problems[0];

  // The untouched tree still checks out (installing pages and applying
  // patches on the way), with nothing on standard output.
  const fs::path ours = scratch_.path() / "ours";
  fs::copy(dir_->path() / "tree", ours, fs::copy_options::recursive);
  testing::internal::CaptureStdout();
  const bool sound = VerifyServerTree(ours.string(), problems);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(sound) << testing::PrintToString(problems);
  EXPECT_EQ(printed, "");
}

TEST(ServerTreeVerifierEmptyTest, FolderWithoutTreeIsAProblem) {
  TempDir dir;
  std::vector<std::string> problems;
  EXPECT_FALSE(VerifyServerTree(dir.str(), problems));
  EXPECT_EQ(problems, std::vector<std::string>{dir.str() + " holds no update-server tree"});
  EXPECT_FALSE(VerifyServerTree((dir.path() / "missing").string(), problems));
}

}  // namespace
