// Blanks trimmed and letter case ignored, ASCII only.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/AsciiText.h"

TEST(AsciiText, TrimRemovesTheGivenBlanksAtBothEndsOnly) {
  using namespace std::literals;
  const struct {
    std::string text;
    std::string_view blanks;
    std::string expected;
  } cases[] = {
      {" \t key = value \r\n", kWhiteSpace, "key = value"},
      {"\v\fx\f\v", kWhiteSpace, "x"},
      {" \t\r\n", kWhiteSpace, ""},
      {"", kWhiteSpace, ""},
      {"inner  blanks", kWhiteSpace, "inner  blanks"},
      {" \tx\r\n", " \t", "x\r\n"},  // only the blanks asked for go
      {"\0 url\x7f"s, "\0 \x7f"sv, "url"},
      {"abc", "", "abc"},
      {"\xA1\xA1text\xA1", kWhiteSpace, "\xA1\xA1text\xA1"},  // bytes above ASCII stay
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(Trim(c.text, c.blanks), c.expected);
  }
}

TEST(AsciiText, EqualsIgnoreCaseFoldsAsciiLettersOnly) {
  const struct {
    std::string_view a;
    std::string_view b;
    bool equal;
  } cases[] = {
      {"DisplayName", "displayname", true},
      {"SOFTWARE\\Fernway", "software\\FERNWAY", true},
      {"", "", true},
      {"Location:", "location", false},  // lengths differ
      {"a", "b", false},
      {"[", "{", false},  // 0x5B and 0x7B differ by the case bit but are no letters
      {"@", "`", false},
      {"\xC4", "\xE4", false},  // Latin-1 letters are not folded
      {"名前A", "名前a", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.equal);
    EXPECT_EQ(EqualsIgnoreCase(c.b, c.a), c.equal);
  }
}

TEST(AsciiText, ToLowerAsciiChangesOnlyTheLettersAToZ) {
  EXPECT_EQ(ToLowerAscii("Data\\A.DAT"), "data\\a.dat");
  EXPECT_EQ(ToLowerAscii("@[`{\xC4\xD6"), "@[`{\xC4\xD6");
  EXPECT_EQ(ToLowerAscii(""), "");
}

TEST(AsciiText, HexDigitValueOfEitherCaseElseMinusOne) {
  const struct {
    char c;
    int value;
  } cases[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'F', 15}, {'f', 15},  {'g', -1},   {'G', -1},
               {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {'\0', -1}, {'\xB0', -1}};
  for (const auto& c : cases) EXPECT_EQ(HexDigitValue(c.c), c.value) << static_cast<int>(c.c);
}
