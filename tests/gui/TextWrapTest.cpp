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
      {"ダウンロード: ", 70, {"ダウンロード:"}},  // a blank at the end never overflows
  };
  for (const auto& c : cases) EXPECT_EQ(WrapText(c.text, c.width, Measure), c.lines) << c.text << " in " << c.width;
}

}  // namespace

namespace {

TEST(TextWrapTest, JapaneseLinesFollowTheLineStartAndEndRulesAndPreferPhraseEnds) {
  using Lines = std::vector<std::string>;
  const struct {
    const char* name;
    const char* text;
    int width;
    Lines lines;
  } cases[] = {
      {"。 never starts a line", "あいうえおかきくけ。", 90, {"あいうえおかきく", "け。"}},
      {"、 and ！ neither", "あいうえおかきく、！", 90, {"あいうえおかき", "く、！"}},
      {"the long vowel mark neither", "ダウンロード", 40, {"ダウン", "ロード"}},
      {"small kana neither", "あいうえおかっ", 60, {"あいうえお", "かっ"}},
      {"a closing bracket neither", "（容量）不足", 30, {"（容", "量）不", "足"}},
      {"an opening bracket never ends a line",
       "所要ディスクスペース（容量）不足",
       110,
       {"所要ディスクスペース", "（容量）不足"}},
      {"the end of a sentence is preferred",
       "失敗しました。もう一度お試しください。",
       130,
       {"失敗しました。", "もう一度お試しください。"}},
      {"but not in the first half of the line", "はい。あいうえおかきくけこ", 100, {"はい。あいうえおかき", "くけこ"}},
      {"else the start of a word after kana",
       "起動する事ができませんでした",
       80,
       {"起動する", "事ができませんで", "した"}},
      {"Latin words are not broken", "あいabcde", 50, {"あい", "abcde"}},
      {"a rule that cannot be kept gives way", "。。。。。。", 30, {"。。。", "。。。"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapText(c.text, c.width, Measure), c.lines) << c.name;
}

}  // namespace
