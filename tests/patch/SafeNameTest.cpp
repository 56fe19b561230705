#include <gtest/gtest.h>

#include <filesystem>

#include "patch/SafeName.h"
#include "tests/support/TempDir.h"

TEST(SafeName, RefusesAbsoluteNamesAndParentComponents) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"data/x.bin", true},
      {"client\\meadow_jp.exe", true},
      {"a..b/..c/d..", true},
      {"./a", true},
      {"", true},
      {"..", false},
      {"../x", false},
      {"..\\x", false},
      {"a/../../x", false},
      {"a\\..", false},
      {"a/..\\b", false},
      {"/etc/passwd", false},
      {"\\server\\x", false},
      {"C:\\x", false},
      {"c:x", false},
      {"1:x", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeRelativeName(c.name), c.safe) << c.name;
}

TEST(SafeName, FileSystemNameGivesOneSpellingPerFile) {
  struct Case {
    const char* name;
    const char* spelled;
  } cases[] = {
      {"data/a.txt", "data/a.txt"},      {"data\\a.txt", "data/a.txt"}, {"./data//a.txt", "data/a.txt"},
      {"data\\.\\a.txt/", "data/a.txt"}, {"Data/A.txt", "Data/A.txt"},  {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSystemName(c.name), c.spelled) << c.name;
}

TEST(SafeName, EntersLauncherFolderWhenAGameNameLeadsIntoTheCurrentFolder) {
  testsupport::TempDir root;
  std::filesystem::create_directories(root.path() / "game/launcher");
  testsupport::CurrentDirScope cwd(root.path() / "game/launcher");
  const std::string game = (root.path() / "game").string();
  struct Case {
    std::string folder;
    const char* name;
    bool enters;
  } cases[] = {
      {"..\\", "launcher/launcher.ini", true},
      {"..\\", "launcher", true},
      {"..\\", "./launcher\\TempUpdata\\x", true},
      {"..", "launcher/x", true},
      {game, "launcher/x", true},
      {"..\\", "launcher2/x", false},
      {"..\\", "Launcher/x", false},
      {"..\\", "data/launcher/x", false},
      {"..\\", "client/meadow_jp.exe", false},
      // A folder inside the launcher's own: the self-update and the staging.
      {".\\", "launcher.ini", false},
      {"TempUpdata\\Unzip\\", "x", false},
      {game + "/other", "launcher/x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LauncherFolderGuard(c.folder).Enters(c.name), c.enters) << c.folder << " " << c.name;
}
