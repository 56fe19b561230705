// Text as a terminal lays it out: East Asian wide and fullwidth characters
// take two columns, every other character one. Texts are UTF-8; a byte that
// does not begin a valid sequence counts as one character of one column.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The columns `text` takes on a terminal.
int TerminalColumns(std::string_view text);

// `text` cut into pieces of at most `columns` columns (at least one character
// each), never inside a character. Empty text gives no piece.
std::vector<std::string> WrapToColumns(std::string_view text, int columns);

// `text` with every control character (C0, DEL, C1) replaced by "?": names
// that come from servers and lists never reach the terminal as escapes.
std::string PrintableText(std::string_view text);
