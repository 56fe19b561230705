#include "ui/TerminalColumns.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "util/Encoding.h"

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

// East Asian Wide and Fullwidth: the scripts, punctuation, symbols and forms
// that the launcher's Japanese texts and the game's file names use, Hangul,
// and the emoji blocks.
constexpr CodeRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

// One character at the start of `text`: its length in bytes and its code
// point (U+FFFD for an ill-formed sequence).
struct Character {
  size_t length;
  char32_t code;
};

Character NextCharacter(std::string_view text) {
  size_t length = 0;
  const char32_t code = DecodeUtf8(text, length);
  return {length, code};
}

int ColumnsOf(char32_t code) {
  const auto after = std::upper_bound(std::begin(kWide), std::end(kWide), code,
                                      [](char32_t c, const CodeRange& range) { return c < range.first; });
  return after != std::begin(kWide) && code <= std::prev(after)->last ? 2 : 1;
}

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

int TerminalColumns(std::string_view text) {
  int columns = 0;
  while (!text.empty()) {
    const Character character = NextCharacter(text);
    columns += ColumnsOf(character.code);
    text.remove_prefix(character.length);
  }
  return columns;
}

std::vector<std::string> WrapToColumns(std::string_view text, int columns) {
  std::vector<std::string> pieces;
  int used = 0;
  while (!text.empty()) {
    const Character character = NextCharacter(text);
    const int width = ColumnsOf(character.code);
    if (pieces.empty() || (used > 0 && used + width > columns)) {
      pieces.emplace_back();
      used = 0;
    }
    pieces.back().append(text.substr(0, character.length));
    used += width;
    text.remove_prefix(character.length);
  }
  return pieces;
}

std::string PrintableText(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  while (!text.empty()) {
    const Character character = NextCharacter(text);
    if (IsControl(character.code)) {
      printable += '?';
    } else {
      printable.append(text.substr(0, character.length));
    }
    text.remove_prefix(character.length);
  }
  return printable;
}
