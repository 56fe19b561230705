#include "patch/SafeName.h"

#include <gtest/gtest.h>

TEST(SafeName, RefusesAbsoluteNamesAndParentComponents) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"data/x.bin", true},     {"client\\meadow_jp.exe", true},
      {"a..b/..c/d..", true},   {"./a", true},
      {"", true},               {"..", false},
      {"../x", false},          {"..\\x", false},
      {"a/../../x", false},     {"a\\..", false},
      {"a/..\\b", false},       {"/etc/passwd", false},
      {"\\server\\x", false},   {"C:\\x", false},
      {"c:x", false},           {"1:x", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeRelativeName(c.name), c.safe) << c.name;
}

TEST(SafeName, FileSystemNameGivesOneSpellingPerFile) {
  struct Case {
    const char* name;
    const char* spelled;
  } cases[] = {
      {"data/a.txt", "data/a.txt"}, {"data\\a.txt", "data/a.txt"}, {"./data//a.txt", "data/a.txt"},
      {"data\\.\\a.txt/", "data/a.txt"}, {"Data/A.txt", "Data/A.txt"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSystemName(c.name), c.spelled) << c.name;
}
