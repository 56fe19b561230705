#include <gtest/gtest.h>

#include "telemetry/SerialText.h"

TEST(SerialText, TrimToAlnumCleansOnlyTextsThatDoNotBeginWithALetterOrDigit) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {" AB12 ", "AB12"},
      {"AB12 ", "AB12 "},  // begins with a letter: unchanged
      {"9 - x -", "9 - x -"},
      {"    DWW-", "DWW"},
      {"--A-B--", "A-B"},
      {" \t-_ ", ""},
      {"", ""},
      {std::string("\0\0S1\0", 5), "S1"},
      {"\xC9t\xE9 ", "\xC9t\xE9 "},  // Latin-1 letters count
      {" \xD7x\xF7 ", "x"},          // the Latin-1 signs x and / do not
      {"\xAA\xB5\xBA", "\xAA\xB5\xBA"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimToAlnum(c.text), c.expected) << c.text;
}

TEST(SerialText, DecodeHexSerialSwapsTheBytesOfEachGroupAndDropsZeros) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"2020202057442d57", "    DWW-"},
      {"3132", "21"},
      {"4142434445464748", "BADCFEHG"},
      {"6a6B", "kj"},  // either case
      {"0041", "A"},   // the zero byte is dropped
      {"00000000", ""},
      {"4142zz43", "BAC"},  // other characters count as 0: "zz43" gives 0x43, 0x00
      {"414", "@A"},        // missing characters count as 0: "414" gives 0x40, 0x41
      {"41", "A"},          // "41" gives 0x00, 0x41
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeHexSerial(c.text), c.expected) << c.text;
}
