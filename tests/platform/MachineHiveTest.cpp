#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/MachineHive.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestUser.h"

using testsupport::SwapEnv;
using testsupport::TestUser;
using testsupport::WriteFile;

TEST(UninstallEntries, ListsDirectSubkeysWithTheirDisplayNames) {
  TestUser user;
  WriteFile(user.winePrefix() / "system.reg",
            "WINE REGISTRY Version 2\n"
            ";; All keys relative to \\\\Machine\n"
            "\n"
            "#arch=win64\n"
            "\n"
            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Other] 1700000000\n"
            "\"DisplayName\"=\"64-bit view, not asked for\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall] "
            "1700000000\n"
            "\"DisplayName\"=\"the key itself\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
            "{050d4fc8-5d48-4b8f-8972-47c82c46020f}] 1700000000\n"
            "#time=1da1234567890ab\n"
            "\"DisplayVersion\"=\"12.0.30501.0\"\n"
            "\"EstimatedSize\"=dword:00005ba8\n"
            "\"DisplayName\"=\"Microsoft Visual C++ 2013 Redistributable (x64) - 12.0.30501\"\n"
            "\"displayname\"=\"a second one is ignored\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
            "{050d4fc8-5d48-4b8f-8972-47c82c46020f}\\\\Nested] 1700000000\n"
            "\"DisplayName\"=\"nested, not a direct subkey\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Game] 1\n"
            "\"DisplayName\"=str(2):\"\\x30b2\\x30fc\\x30e0 \\\"quoted\\\" \\\\ \\xd83d\\xde00\\t\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\NoName] "
            "1\n"
            "\"Publisher\"=\"Somebody\"\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Binary] "
            "1\n"
            "\"DisplayName\"=hex:41,42,\\\n"
            "  43\n"
            "\n"
            "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
            "Microsoft Visual C++ 2013 x64 Additional Runtime] 1\n"
            "\"DisplayName\"=\"Microsoft Visual C++ 2013 x64 Additional Runtime - 12.0.21005\"\n");
  std::vector<UninstallEntry> entries =
      ListUninstallEntries("SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].subkey, "{050d4fc8-5d48-4b8f-8972-47c82c46020f}");
  EXPECT_EQ(entries[0].displayName, "Microsoft Visual C++ 2013 Redistributable (x64) - 12.0.30501");
  EXPECT_EQ(entries[1].subkey, "Game");
  EXPECT_EQ(entries[1].displayName, "ゲーム \"quoted\" \\ \U0001F600\t");
  EXPECT_EQ(entries[2].subkey, "Microsoft Visual C++ 2013 x64 Additional Runtime");
}

TEST(UninstallEntries, NoPrefixOrNoKeyMeansNoEntries) {
  TestUser user;
  const char* key = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  EXPECT_EQ(MachineHivePath(), (user.winePrefix() / "system.reg").string());
  EXPECT_TRUE(ListUninstallEntries(key).empty());  // the prefix does not exist
  WriteFile(user.winePrefix() / "system.reg",
            "WINE REGISTRY Version 2\n\n[Software\\\\Other\\\\X] 1\n"
            "\"DisplayName\"=\"x\"\n");
  EXPECT_TRUE(ListUninstallEntries(key).empty());
  EXPECT_TRUE(ListUninstallEntries(key, "").empty());

  auto savedPrefix = SwapEnv("WINEPREFIX", std::nullopt);
  auto savedHome = SwapEnv("HOME", "/home/u");
  EXPECT_EQ(MachineHivePath(), "/home/u/.wine/system.reg");
  SwapEnv("HOME", savedHome);
  SwapEnv("WINEPREFIX", savedPrefix);
}
