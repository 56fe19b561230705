// Command lines split by the Windows rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CommandLine.h"

TEST(CommandLine, SplitsByWindowsRules) {
  const struct {
    std::string line;
    std::vector<std::string> args;
  } cases[] = {
      {"prog a b", {"prog", "a", "b"}},
      {"..\\client\\meadow_jp.exe -screen-width 1280 -screen-height 720 -screen-fullscreen 0 ",
       {"..\\client\\meadow_jp.exe", "-screen-width", "1280", "-screen-height", "720", "-screen-fullscreen", "0"}},
      {"\"C:\\Program Files\\x.exe\" -a", {"C:\\Program Files\\x.exe", "-a"}},
      {"\"a b\"c d", {"a b", "c", "d"}},  // the program ends at its closing quote
      {"pro\"g x", {"pro\"g", "x"}},      // quotes inside the program are plain
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p\t\"x\ty\"", {"p", "x\ty"}},
      {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},  // backslashes without a quote are plain
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // 2n backslashes: n, and the quote opens
      {"p a\\\"b", {"p", "a\"b"}},          // 2n+1: n and a literal quote
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},
      {"p \"\\\\server\\share\\\" x", {"p", "\\\\server\\share\" x"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p \"a\"\"b\"", {"p", "a\"b"}},  // a quote run of three gives a literal quote
      {"p \"\"\"a\"\"\"", {"p", "\"a\""}},
      {"p a\"b c\"d e", {"p", "ab cd", "e"}},
      {"p \"open end", {"p", "open end"}},
      {"\"unterminated", {"unterminated"}},
      {"  lead  x  ", {"lead", "x"}},
      {"", {}},
      {" \t ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
  }
}
