#include <gtest/gtest.h>

#include "ui/sdl/TextFit.h"

namespace {

// A measure of `pixels` per character.
TextMeasure PerCharacter(int pixels) {
  return [pixels](std::string_view text) {
    int characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return characters * pixels;
  };
}

TEST(TextFitTest, TheLargestSizeThatFitsElseTheSmallestShortenedWithAnEllipsis) {
  const std::vector<FontMeasure> fonts{{18, PerCharacter(10)}, {17, PerCharacter(9)}, {16, PerCharacter(8)}};
  using Lines = std::vector<std::string>;
  const struct {
    const char* name;
    const char* text;
    int width;
    int height;
    size_t font;
    Lines lines;
    bool shortened;
  } cases[] = {
      {"fits", "あいうえお", 50, 20, 0, {"あいうえお"}, false},
      {"one step smaller", "あいうえおか", 55, 20, 1, {"あいうえおか"}, false},
      {"two steps smaller", "あいうえおか", 50, 20, 2, {"あいうえおか"}, false},
      {"blanks at the end take no room", "ダウンロード: ", 70, 20, 0, {"ダウンロード:"}, false},
      {"shortened after the blank where it would wrap",
       "ファイル復元:   averylongname.dat",
       100,
       20,
       2,
       {"ファイル復元:   a…"},
       true},
      {"as many lines as the height holds",
       "あいうえおかきくけこさしす",
       40,
       54,
       2,
       {"あいうえお", "かきくけこ", "さしす"},
       false},
      {"the last line that fits ends with the ellipsis", "a\nb\nc c\nd", 50, 54, 2, {"a", "b", "c c…"}, true},
      {"a room narrower than the ellipsis", "abc", 5, 20, 2, {"…"}, true},
  };
  for (const auto& c : cases) {
    const FittedText fitted = FitText(c.text, c.width, c.height, fonts);
    EXPECT_EQ(fitted.font, c.font) << c.name;
    EXPECT_EQ(fitted.lines, c.lines) << c.name;
    EXPECT_EQ(fitted.shortened, c.shortened) << c.name;
  }
}

}  // namespace
