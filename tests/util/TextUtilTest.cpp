// Text rules: blanks, comma lists, separators, URL encoding, size texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/TextUtil.h"

TEST(TextUtil, RemoveBlanksEverywhere) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"a b\tc\r\n", "abc"},
      {"  lead and trail  ", "leadandtrail"},
      {" \t\r\n", ""},
      {"", ""},
      {"keep\vform\ffeed", "keep\vform\ffeed"},  // only the four blanks go
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    RemoveBlanks(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST(TextUtil, SplitByCommaDropsEmptyPieces) {
  const struct {
    std::string_view in;
    std::vector<std::string> out;
  } cases[] = {
      {",a,,b,", {"a", "b"}},
      {"one", {"one"}},
      {"", {}},
      {",,,", {}},
      {" x , y", {" x ", " y"}},
      {std::string_view("a,b\0c,d", 7), {"a", "b"}},  // the text ends at NUL
  };
  for (const auto& c : cases) {
    std::vector<std::string> list = {"stale"};
    EXPECT_EQ(SplitByComma(list, c.in), static_cast<int>(c.out.size()));
    EXPECT_EQ(list, c.out) << c.in;
  }
}

TEST(TextUtil, BackslashToSlashSkipsDoubleByteCharacters) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"..\\client\\a.exe", "../client/a.exe"},
      {"", ""},
      {"\x95\x5C\\x", "\x95\x5C/x"},  // second byte 0x5C is not a separator
      {"\x81\\\\", "\x81\\/"},        // lead byte takes the next byte, whatever it is
      {"\xFE\x5C\\", "\xFE\x5C/"},
      {"\x80\\\xFF\\", "\x80/\xFF/"},  // 0x80 and 0xFF are single bytes
      {"end\x81", "end\x81"},          // lead byte at the very end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BackslashToSlash(c.in), c.out);
  }
}

TEST(TextUtil, UrlEncodeKeepsHostAndEncodesTheRest) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"http://127.0.0.1:18080/dir/a_b c.zip?rand=5", "http://127.0.0.1:18080/dir/a%5Fb%20c.zip?rand%3D5"},
      {"http://my_host:80/KVMETRA/x-y~z+w%", "http://my_host:80/KVMETRA/x%2Dy%7Ez%2Bw%25"},
      {"http://h/#&./:?@\\Az09", "http://h/#&./:?@\\Az09"},
      {"http://h/\xD6\xD0\xCE\xC4.txt", "http://h/%E4%B8%AD%E6%96%87.txt"},  // code page 936 to UTF-8
      {"http://a-b", "http://a%2Db"},  // no slash after the host: everything is encoded
      {"ab/c_d", "ab/c%5Fd"},          // a slash before index 8 does not end a host
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlEncode(c.in), c.out) << c.in;
  }
}

TEST(TextUtil, FormatByteSizeTable) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {-5, "-5"},
      {0, "0"},
      {1023, "1023"},
      {1024, "1.0K"},
      {1536, "1.5K"},
      {1048575, "1024.0K"},
      {1048576, "1.0M"},
      {(int64_t{3} << 29), "1.5G"},
      {int64_t{1} << 40, "1.0T"},
      {INT64_MAX, "8388608.0T"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
  }
}
