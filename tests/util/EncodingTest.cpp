// UTF-8 / UTF-16 conversions and code page 936 decoding with its limits.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>

#include "platform/CodePage936.h"
#include "util/Encoding.h"

TEST(Encoding, Utf8AndUtf16RoundTrip) {
  const std::string utf8 = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // A é 中 😀
  const std::u16string wide = u"A\u00E9\u4E2D\U0001F600";
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(Encoding, InvalidSequencesBecomeReplacementCharacters) {
  const struct {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"a\xC3", u"a\uFFFD"},                      // cut off
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},    // overlong
      {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"},  // encoded surrogate
      {"\xE4\xB8x", u"\uFFFDx"},                  // valid start, then interrupted
      {"\xF5\x80", u"\uFFFD\uFFFD"},              // beyond U+10FFFF
      {std::string("ab\0cd", 5), u"ab"},          // the text ends at NUL
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.in), c.out);
  }
  EXPECT_EQ(WideToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(WideToUtf8(u"x\xDC00"), "x\xEF\xBF\xBD");
}

TEST(Encoding, AnsiToUtf8DecodesCodePage936) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"\xD7\xB4\xCC\xAC"
       "333",
       "\xE7\x8A\xB6\xE6\x80\x81"
       "333"},                                                                                   // 状态333
      {"\xBC\xF2\xCC\xE5\xD6\xD0\xCE\xC4", "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87"},  // 简体中文
      {"plain ascii", "plain ascii"},
      {"\x80", "\xE2\x82\xAC"},  // the euro sign of the Windows code page
      {"a\x81", "a?"},           // a lead byte without its second byte
      {"\xFF"
       "b",
       "?b"},
      {std::string("ab\0\xD6\xD0", 5), "ab"},  // the text ends at NUL
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiToUtf8(c.in), c.out);
  }
}

TEST(Encoding, AnsiToUtf8OutputLimit) {
  // One-byte characters that need three bytes each; an input of n bytes has
  // room for (n / 2) * 3 + 3 output bytes.
  const std::string euro = "\xE2\x82\xAC";
  EXPECT_EQ(AnsiToUtf8("\x80"), euro);                            // room for 3
  EXPECT_EQ(AnsiToUtf8("\x80\x80\x80"), euro + euro);             // room for 6 of 9
  EXPECT_EQ(AnsiToUtf8("\x80\x80\x80\x80"), euro + euro + euro);  // room for 9 of 12
  // Room for 12: the fourth euro does not fit, and the "b" after it, which
  // would, is not written either.
  EXPECT_EQ(AnsiToUtf8("a\x80\x80\x80\x80"
                       "b"),
            "a" + euro + euro + euro);
}

TEST(Encoding, AnsiToUtf8RefusesLongTexts) {
  const struct {
    size_t length;
    bool refused;
  } cases[] = {
      {349523, false},                    // (n/2)*3+4 = 524287, just below 0x80000
      {349524, true},                     // (n/2)*3+4 reaches 0x80000
      {0x7FFFE, true},  {0x7FFFF, true},  // n + 1 reaches 0x80000
      {0x100000, true},
  };
  for (const auto& c : cases) {
    const std::string text(c.length, 'a');
    const std::string result = AnsiToUtf8(text);
    if (c.refused) {
      EXPECT_EQ(result, kAnsiToUtf8TooLong) << c.length;
    } else {
      EXPECT_EQ(result, text) << c.length;
    }
  }
}

TEST(Encoding, AnsiToUtf8OnTwoThreadsAtOnce) {
  // Different texts and lengths, so that a shared buffer would mix the results.
  std::string gbk;
  std::string reference;
  for (int i = 0; i < 1000; ++i) {
    gbk += "\xD6\xD0";
    reference += "\xE4\xB8\xAD";  // 中
  }
  const std::string ascii(300, 'q');
  std::latch start(2);
  bool mixedA = false;
  bool mixedB = false;
  std::thread a([&] {
    start.arrive_and_wait();
    for (int i = 0; i < 2000; ++i) {
      mixedA = mixedA || AnsiToUtf8(gbk) != reference;
    }
  });
  std::thread b([&] {
    start.arrive_and_wait();
    for (int i = 0; i < 2000; ++i) {
      mixedB = mixedB || AnsiToUtf8(ascii) != ascii;
    }
  });
  a.join();
  b.join();
  EXPECT_FALSE(mixedA);
  EXPECT_FALSE(mixedB);
}

// Names go to and from code page 936 whole or not at all: a name that one side
// cannot hold must not turn into another name.
TEST(Encoding, NamesConvertExactlyBetweenCodePage936AndUtf8) {
  const struct {
    const char* label;
    std::string cp936;
    std::string utf8;
  } both[] = {
      {"ASCII", "data/a b.txt", "data/a b.txt"},
      {"kanji and kana", "data/\xD5\x68\xC3\xF7/\xA5\xBB\xA9\x60\xA5\xD6.txt",
       "data/\xE8\xAA\xAC\xE6\x98\x8E/\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.txt"},  // data/説明/セーブ.txt
      {"a trail byte that is a backslash", "\x81\x5C", "\xE4\xB9\x97"},            // 乗
      {"the euro sign of the single byte 0x80", "\x80", "\xE2\x82\xAC"},
  };
  for (const auto& c : both) {
    SCOPED_TRACE(c.label);
    std::string out;
    ASSERT_TRUE(CodePage936ToUtf8(c.cp936, out));
    EXPECT_EQ(out, c.utf8);
    ASSERT_TRUE(Utf8ToCodePage936(c.utf8, out));
    EXPECT_EQ(out, c.cp936);
  }

  const struct {
    const char* label;
    std::string in;
  } notCp936[] = {{"a lead byte cut off", "a\xD5"},
                  {"an invalid trail", "\xD5\x20"},
                  {"a NUL", std::string("a\0b", 3)}},
    notUtf8[] = {{"Hangul", "\xED\x95\x9C"},              // 한
                 {"beyond the BMP", "\xF0\x9F\x98\x80"},  // 😀
                 {"invalid UTF-8", "\xC3"},
                 {"a NUL", std::string("a\0b", 3)}};
  for (const auto& c : notCp936) {
    SCOPED_TRACE(c.label);
    std::string out = "stale";
    EXPECT_FALSE(CodePage936ToUtf8(c.in, out));
    EXPECT_EQ(out, "");
  }
  for (const auto& c : notUtf8) {
    SCOPED_TRACE(c.label);
    std::string out = "stale";
    EXPECT_FALSE(Utf8ToCodePage936(c.in, out));
    EXPECT_EQ(out, "");
  }
}
