#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/PrivateProfile.h"
#include "tests/support/TempDir.h"

using testsupport::CurrentDirScope;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr size_t kBuffer = 260;

struct StringCase {
  const char* what;
  std::string ini;
  const char* section;
  const char* key;
  const char* defaultValue;
  size_t bufferSize;
  std::string expected;
};

}  // namespace

TEST(PrivateProfile, ReadsStringsLikeWindows) {
  const StringCase cases[] = {
      {"plain", "[launcher]\nlauncherUrl=http://a/b\n", "launcher", "launcherUrl", "d", kBuffer, "http://a/b"},
      {"names ignore letter case", "[LAUNCHER]\nLauncherURL=x\n", "launcher", "launcherurl", "d", kBuffer, "x"},
      {"blanks around names and value", "  [ game ]  \n\t gameUrl \t=  http://g  \t\n", "game", "gameUrl", "d", kBuffer,
       "http://g"},
      {"inner blanks kept", "[s]\nk=a  b\n", "s", "k", "d", kBuffer, "a  b"},
      {"CRLF line ends", "[s]\r\nk=v\r\nj=w\r\n", "s", "k", "d", kBuffer, "v"},
      {"byte order mark", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "d", kBuffer, "v"},
      {"no newline at the end", "[s]\nk=v", "s", "k", "d", kBuffer, "v"},
      {"first key wins", "[s]\nk=1\nk=2\n", "s", "k", "d", kBuffer, "1"},
      {"first section wins", "[s]\nk=1\n[s]\nk=2\n", "s", "k", "d", kBuffer, "1"},
      {"later duplicate section not searched", "[s]\na=1\n[t]\n[S]\nk=2\n", "s", "k", "d", kBuffer, "d"},
      {"key in another section", "[a]\nk=1\n[b]\nj=2\n", "b", "k", "d", kBuffer, "d"},
      {"key before any section", "k=1\n[s]\n", "s", "k", "d", kBuffer, "d"},
      {"value holds equals signs", "[s]\nk=a=b=c\n", "s", "k", "d", kBuffer, "a=b=c"},
      {"empty value is not the default", "[s]\nk=\n", "s", "k", "d", kBuffer, ""},
      {"line without equals is an empty key", "[s]\nk\n", "s", "k", "d", kBuffer, ""},
      {"double quotes stripped", "[s]\nk=\"http://q\"\n", "s", "k", "d", kBuffer, "http://q"},
      {"single quotes stripped, inner blanks kept", "[s]\nk=' a '\n", "s", "k", "d", kBuffer, " a "},
      {"only one pair stripped", "[s]\nk=\"\"x\"\"\n", "s", "k", "d", kBuffer, "\"x\""},
      {"unmatched quote kept", "[s]\nk=\"abc\n", "s", "k", "d", kBuffer, "\"abc"},
      {"mixed quotes kept", "[s]\nk='abc\"\n", "s", "k", "d", kBuffer, "'abc\""},
      {"lone quote kept", "[s]\nk=\"\n", "s", "k", "d", kBuffer, "\""},
      {"no comments", "[s]\n;k=1\nk=2 ; note\n", "s", "k", "d", kBuffer, "2 ; note"},
      {"commented key is another key", "[s]\n;k=1\n", "s", ";k", "d", kBuffer, "1"},
      {"header without closing bracket is a key line", "[s]\n[t\nk=1\n", "s", "k", "d", kBuffer, "1"},
      {"text after the header ignored", "[s] trailing\nk=1\n", "s", "k", "d", kBuffer, "1"},
      {"value cut to buffer minus one", "[s]\nk=abcdef\n", "s", "k", "d", 4, "abc"},
      {"value fits exactly", "[s]\nk=abc\n", "s", "k", "d", 4, "abc"},
      {"buffer of one", "[s]\nk=abc\n", "s", "k", "d", 1, ""},
      {"buffer of zero", "[s]\nk=abc\n", "s", "k", "d", 0, ""},
      {"default loses trailing blanks", "", "s", "k", "def  ", kBuffer, "def"},
      {"default keeps leading blanks", "", "s", "k", "  def", kBuffer, "  def"},
      {"default cut to buffer", "[s]\n", "s", "k", "default", 4, "def"},
  };
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const auto& c : cases) {
    WriteFile(dir.path() / "test.ini", c.ini);
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, c.defaultValue, c.bufferSize, ".\\test.ini"), c.expected)
        << c.what;
    EXPECT_EQ(PrivateProfileSnapshot(".\\test.ini").GetString(c.section, c.key, c.defaultValue, c.bufferSize),
              c.expected)
        << c.what << " (snapshot)";
  }
}

TEST(PrivateProfile, ReadsIntegersLikeWindows) {
  const struct {
    std::string value;  // the line after "[debug]"; "" = no key line at all
    int expected;
  } cases[] = {
      {"debug=1", 1},     {"debug=2", 2},          {"debug= 42 ", 42}, {"debug=12abc", 12},
      {"debug=-7", -7},   {"debug=+7", 7},         {"debug=abc", 0},   {"debug=0x10", 0},
      {"debug=\"5\"", 5}, {"debug=4294967297", 1},  // wraps at 32 bits
      {"debug=", -99},                              // empty value: default
      {"debug", -99},                               // no "=": empty value
      {"", -99},                                    // missing key
      {"DEBUG=3", 3},
  };
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  for (const auto& c : cases) {
    WriteFile(dir.path() / "launcher.ini", "[debug]\n" + c.value + "\n");
    EXPECT_EQ(GetPrivateProfileInt("debug", "debug", -99, ".\\launcher.ini"), c.expected) << c.value;
    EXPECT_EQ(PrivateProfileSnapshot(".\\launcher.ini").GetInt("debug", "debug", -99), c.expected)
        << c.value << " (snapshot)";
  }
}

TEST(PrivateProfile, MissingOrUnreadableFileGivesDefaults) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  EXPECT_EQ(GetPrivateProfileString("s", "k", "fallback", kBuffer, ".\\missing.ini"), "fallback");
  EXPECT_EQ(GetPrivateProfileInt("s", "k", 5, ".\\missing.ini"), 5);
  // A folder in the file's place reads like a missing file.
  std::filesystem::create_directory(dir.path() / "folder.ini");
  EXPECT_EQ(GetPrivateProfileString("s", "k", "fallback", kBuffer, "folder.ini"), "fallback");
  EXPECT_EQ(GetPrivateProfileInt("s", "k", 5, "folder.ini"), 5);
  for (const char* path : {".\\missing.ini", "folder.ini"}) {
    PrivateProfileSnapshot snapshot(path);
    EXPECT_EQ(snapshot.GetString("s", "k", "fallback", kBuffer), "fallback") << path;
    EXPECT_EQ(snapshot.GetInt("s", "k", 5), 5) << path;
    EXPECT_TRUE(snapshot.Keys("s").empty()) << path;
  }
}

TEST(PrivateProfile, SnapshotListsTheKeysOfTheSearchedSection) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  WriteFile(dir.path() / "a.ini", "x=0\n[S]\nFile1=a\nfile0=b\nFILE1=c\nbare\n[t]\nt=1\n[s]\nlater=2\n");
  PrivateProfileSnapshot snapshot("a.ini");
  EXPECT_EQ(snapshot.Keys("s"), (std::vector<std::string>{"file1", "file0", "bare"}));
  EXPECT_EQ(snapshot.Keys("T"), std::vector<std::string>{"t"});
  EXPECT_TRUE(snapshot.Keys("none").empty());
  EXPECT_EQ(snapshot.Sections(), (std::vector<std::string>{"s", "t"}));
  // Later lines of a key and later sections of a name stay unseen.
  EXPECT_EQ(snapshot.GetString("s", "file1", "", kBuffer), "a");
  EXPECT_EQ(snapshot.GetString("s", "later", "d", kBuffer), "d");
}

TEST(PrivateProfile, NumberedIndicesNameOnlyWhatTheFileHolds) {
  const std::vector<std::string> names = {"file7",  "file0",           "file07",        "file",
                                          "file-1", "file+2",          "file2a",        "xfile3",
                                          "file9",  "file99999999999", "file2147483646"};
  EXPECT_EQ(NumberedIndices(names, "file", 2147483647), (std::vector<int>{0, 7, 9, 2147483646}));
  EXPECT_EQ(NumberedIndices(names, "file", 9), (std::vector<int>{0, 7}));
  EXPECT_TRUE(NumberedIndices(names, "file", 0).empty());
  EXPECT_TRUE(NumberedIndices(names, "file", -5).empty());
}

TEST(PrivateProfile, ReadsTheFileAfreshOnEveryCall) {
  TempDir dir;
  CurrentDirScope cwd(dir.path());
  WriteFile(dir.path() / "sub" / "a.ini", "[s]\nk=first\n");
  EXPECT_EQ(GetPrivateProfileString("s", "k", "", kBuffer, "sub\\a.ini"), "first");
  WriteFile(dir.path() / "sub" / "a.ini", "[s]\nk=second\n");
  EXPECT_EQ(GetPrivateProfileString("s", "k", "", kBuffer, "sub\\a.ini"), "second");
  std::filesystem::remove(dir.path() / "sub" / "a.ini");
  EXPECT_EQ(GetPrivateProfileString("s", "k", "gone", kBuffer, "sub\\a.ini"), "gone");
}
