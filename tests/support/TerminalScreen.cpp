#include "tests/support/TerminalScreen.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cwchar>

namespace testsupport {
namespace {

// How long a read waits for output that must come; only a guard against a hang.
constexpr int kOutputWaitMs = 10000;

size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The cells of `row` cut into rows of at most `columns`, a wide character
// never split; an empty row stays one row.
std::vector<std::vector<std::string>> Rewrapped(const std::vector<std::string>& row, int columns) {
  std::vector<std::string> cells = row;
  while (!cells.empty() && cells.back() == " ") cells.pop_back();
  std::vector<std::vector<std::string>> pieces(1);
  for (size_t i = 0; i < cells.size(); ++i) {
    const size_t width = i + 1 < cells.size() && cells[i + 1].empty() ? 2 : 1;
    if (cells[i].empty()) continue;
    if (pieces.back().size() + width > static_cast<size_t>(columns)) pieces.emplace_back();
    pieces.back().push_back(cells[i]);
    if (width == 2) pieces.back().emplace_back();
  }
  return pieces;
}

}  // namespace

int TerminalWidthOf(std::string_view character) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  const locale_t previous = uselocale(utf8);
  wchar_t code = 0;
  std::mbstate_t state{};
  const size_t length = std::mbrtowc(&code, character.data(), character.size(), &state);
  const int width = length == character.size() ? wcwidth(code) : -1;
  uselocale(previous);
  return width;
}

TerminalScreen::TerminalScreen(int columns, int rows, bool reflows)
    : columns_(columns), height_(rows), reflows_(reflows), rows_(static_cast<size_t>(rows)) {}

void TerminalScreen::Feed(std::string_view bytes) {
  pending_.append(bytes);
  size_t at = 0;
  while (at < pending_.size()) {
    const auto byte = static_cast<unsigned char>(pending_[at]);
    if (byte == 0x1b) {
      if (at + 1 >= pending_.size()) break;
      if (pending_[at + 1] != '[') {
        problems_.push_back("an escape that is not ESC [");
        at += 2;
        continue;
      }
      size_t end = at + 2;
      while (end < pending_.size() && (std::isdigit(static_cast<unsigned char>(pending_[end])) || pending_[end] == ';'))
        ++end;
      if (end >= pending_.size()) break;
      Escape(std::string_view(pending_).substr(at + 2, end - at - 2), pending_[end]);
      at = end + 1;
    } else if (byte == '\r') {
      column_ = 0;
      ++at;
    } else if (byte == '\n') {
      LineFeed();
      ++at;
    } else if (byte == 0) {
      ++at;
    } else if (byte < 0x20 || byte == 0x7f) {
      problems_.push_back("control byte " + std::to_string(byte));
      ++at;
    } else {
      const size_t length = Utf8Length(byte);
      if (at + length > pending_.size()) break;
      const std::string character = pending_.substr(at, length);
      const int width = TerminalWidthOf(character);
      if (width < 1) problems_.push_back("a character of no width: " + character);
      Put(character, std::max(width, 1));
      at += length;
    }
  }
  pending_.erase(0, at);
}

void TerminalScreen::Put(const std::string& character, int width) {
  if (column_ + width > columns_) {
    problems_.push_back("past the right edge at " + character);
    column_ = 0;
    LineFeed();
  }
  Row& row = rows_[row_];
  if (row.size() < static_cast<size_t>(column_ + width)) row.resize(static_cast<size_t>(column_ + width), " ");
  row[static_cast<size_t>(column_)] = character;
  if (width == 2) row[static_cast<size_t>(column_) + 1].clear();
  column_ += width;
}

void TerminalScreen::LineFeed() {
  if (row_ + 1 == rows_.size()) rows_.emplace_back();
  ++row_;
}

void TerminalScreen::Escape(std::string_view parameters, char final) {
  const int number = parameters.empty() ? 0 : std::stoi(std::string(parameters));
  Row& row = rows_[row_];
  switch (final) {
    case 'F':
      row_ = std::max(Top(), row_ - std::min(row_, static_cast<size_t>(std::max(number, 1))));
      column_ = 0;
      return;
    case 'K':
      if (number == 2) {
        row.clear();
        return;
      }
      break;
    case 'J':
      if (number == 0) {
        if (row.size() > static_cast<size_t>(column_)) row.resize(static_cast<size_t>(column_));
        for (size_t below = row_ + 1; below < rows_.size(); ++below) rows_[below].clear();
        return;
      }
      break;
    default: break;
  }
  problems_.push_back("escape ESC [" + std::string(parameters) + final);
}

void TerminalScreen::Resize(int columns) {
  if (!reflows_) {
    for (Row& row : rows_) {
      if (row.size() <= static_cast<size_t>(columns)) continue;
      row.resize(static_cast<size_t>(columns));
      if (row.back() != " " && !row.back().empty() && TerminalWidthOf(row.back()) == 2) row.back() = " ";
    }
  } else {
    std::vector<Row> rewrapped;
    size_t cursorRow = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (i == row_) cursorRow = rewrapped.size();
      for (Row& piece : Rewrapped(rows_[i], columns)) rewrapped.push_back(std::move(piece));
    }
    // The screen keeps its height: blank lines below the cursor go first.
    while (rewrapped.size() > static_cast<size_t>(height_) && rewrapped.size() > cursorRow + 1 &&
           rewrapped.back().empty())
      rewrapped.pop_back();
    rows_ = std::move(rewrapped);
    row_ = cursorRow;
  }
  columns_ = columns;
  column_ = std::min(column_, columns);
}

std::vector<std::string> TerminalScreen::Lines() const {
  std::vector<std::string> lines;
  for (const Row& row : rows_) {
    std::string line;
    for (const std::string& cell : row) line += cell;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

PseudoTerminal::PseudoTerminal(int columns, int rows, bool reflows) : rows_(rows), screen_(columns, rows, reflows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  if (openpty(&controller_, &terminal_, nullptr, nullptr, &size) != 0) {
    ADD_FAILURE() << "openpty failed";
    return;
  }
  output_ = fdopen(dup(terminal_), "w");
}

PseudoTerminal::~PseudoTerminal() {
  if (output_ != nullptr) std::fclose(output_);
  if (terminal_ >= 0) close(terminal_);
  if (controller_ >= 0) close(controller_);
}

const TerminalScreen& PseudoTerminal::Settle() {
  if (output_ == nullptr) return screen_;
  std::fflush(output_);
  EXPECT_EQ(write(terminal_, "", 1), 1);
  for (bool marked = false; !marked;) {
    pollfd wait{controller_, POLLIN, 0};
    if (poll(&wait, 1, kOutputWaitMs) != 1) {
      ADD_FAILURE() << "the terminal's output did not arrive";
      break;
    }
    char buffer[4096];
    const ssize_t got = read(controller_, buffer, sizeof buffer);
    if (got <= 0) break;
    std::string_view bytes(buffer, static_cast<size_t>(got));
    marked = bytes.find('\0') != std::string_view::npos;
    screen_.Feed(bytes);
  }
  return screen_;
}

void PseudoTerminal::Drain() {
  pollfd wait{controller_, POLLIN, 0};
  char buffer[4096];
  while (controller_ >= 0 && poll(&wait, 1, 0) == 1) {
    const ssize_t got = read(controller_, buffer, sizeof buffer);
    if (got <= 0) return;
    screen_.Feed(std::string_view(buffer, static_cast<size_t>(got)));
  }
}

void PseudoTerminal::Resize(int columns) {
  Settle();
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows_);
  EXPECT_EQ(ioctl(terminal_, TIOCSWINSZ, &size), 0);
  screen_.Resize(columns);
}

}  // namespace testsupport
