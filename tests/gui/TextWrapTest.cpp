#include <gtest/gtest.h>

#include "ui/sdl/TextWrap.h"

namespace {

// 10 pixels per character.
int Measure(std::string_view text) {
  int characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters * 10;
}

TEST(TextWrapTest, LinesBreakAtBlanksOrBetweenCharactersAndAtLineFeeds) {
  using Lines = std::vector<std::string>;
  const struct {
    const char* text;
    int width;
    Lines lines;
  } cases[] = {
      {"", 100, {""}},
      {"abc", 100, {"abc"}},
      {"あいうえおかきくけこさ", 50, {"あいうえお", "かきくけこ", "さ"}},
      {"hello world foo", 80, {"hello", "world", "foo"}},
      {"word longerthanwidth", 50, {"word", "longe", "rthan", "width"}},
      {"  ab cd", 40, {"  ab", "cd"}},
      {"ab", 5, {"a", "b"}},  // narrower than one character
      {"line1\r\nline2", 100, {"line1", "line2"}},
      {"a\n\nb", 100, {"a", "", "b"}},
      {"ゲームを起動できません。\r\n再試行しますか？", 100, {"ゲームを起動できませ", "ん。", "再試行しますか？"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapText(c.text, c.width, Measure), c.lines) << c.text << " in " << c.width;
}

}  // namespace
