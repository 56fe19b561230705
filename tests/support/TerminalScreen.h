// Terminal output as a person would see it: a real pseudo-terminal, and a
// small model of the screen that interprets what was written to it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// The columns of one UTF-8 character as the C library counts them
// (wcwidth in C.UTF-8); -1 for a text that is not one printable character.
int TerminalWidthOf(std::string_view character);

// The screen of a terminal `columns` wide and `rows` high, with the lines
// scrolled away above it. It interprets printable UTF-8 (widths from the C
// library's wcwidth in C.UTF-8), carriage return, line feed, and the escapes
// ESC [ n F (to the start of the n-th line up, not above the screen),
// ESC [ 2 K (erase the line) and ESC [ J (erase to the end of the screen).
// Any other control, and a character written past the right edge (the
// terminal wraps it), is recorded as a problem.
class TerminalScreen {
 public:
  TerminalScreen(int columns, int rows, bool reflows);

  void Feed(std::string_view bytes);
  // The terminal becomes `columns` wide. A reflowing terminal re-wraps the
  // lines longer than that; any other cuts them.
  void Resize(int columns);

  // The lines that are not empty, scrolled away or on the screen, top down,
  // without trailing blanks.
  std::vector<std::string> Lines() const;
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  // A cell holds one character; the second cell of a wide one is empty.
  using Row = std::vector<std::string>;

  void Put(const std::string& character, int width);
  void LineFeed();
  void Escape(std::string_view parameters, char final);
  size_t Top() const { return rows_.size() - static_cast<size_t>(height_); }

  int columns_;
  int height_;
  bool reflows_;
  std::vector<Row> rows_;
  size_t row_ = 0;
  int column_ = 0;       // == columns_: the right edge reached, the next character wraps
  std::string pending_;  // an escape or character not complete yet
  std::vector<std::string> problems_;
};

// A pseudo-terminal of `columns` x `rows` whose terminal side this process
// writes to; what was written is read from the other side into a screen.
class PseudoTerminal {
 public:
  PseudoTerminal(int columns, int rows, bool reflows = true);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // A stream on the terminal side, owned by this object.
  std::FILE* output() const { return output_; }
  // Reads what has arrived so far into the screen, without waiting; keeps a
  // program that writes to the terminal from filling it up.
  void Drain();
  // The screen after everything written to the terminal side so far: a
  // NUL byte, which terminals ignore, is written after it and read back.
  const TerminalScreen& Settle();
  // The window becomes `columns` wide, for the terminal and the screen.
  void Resize(int columns);

 private:
  int rows_;
  int controller_ = -1;
  int terminal_ = -1;
  std::FILE* output_ = nullptr;
  TerminalScreen screen_;
};

}  // namespace testsupport
