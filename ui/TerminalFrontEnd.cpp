#include "ui/TerminalFrontEnd.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/MessageWindow.h"
#include "ui/StatusTexts.h"
#include "ui/TerminalColumns.h"

namespace {

// The size assumed when the output does not tell its own.
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 24;
// How long one wait for input lasts before the messages get their turn.
constexpr int kInputWaitMs = 50;
constexpr const char* kAnswerPrompt = "はい(y) / いいえ(n): ";
// Before the launch log's reason for a stopped chain.
constexpr const char* kReasonLabel = "原因: ";

// The label and the value of a control pair, as one text: a label that does
// not end in a blank ("残り時間") gets one before its value.
std::string Pair(const MainWindowView& view, int label, int value) {
  const std::string& labelText = view.Text(label);
  const std::string& valueText = view.Text(value);
  const bool blank = !labelText.empty() && !valueText.empty() && labelText.back() != ' ';
  return PrintableText(labelText + (blank ? " " : "") + valueText);
}

// Fields shown together on one line, joined by `separator`.
struct BlockRow {
  std::vector<std::string> fields;
  const char* separator;
};

// The row's fields that are not empty, with the separator between them.
std::string Joined(const BlockRow& row) {
  std::string line;
  for (const std::string& field : row.fields) {
    if (field.empty()) continue;
    if (!line.empty()) line += row.separator;
    line += field;
  }
  return line;
}

// The progress bar of `barCells` cells and the percentage. The close hint a
// stopped window shows there comes last on a terminal, after the reason
// (WaitForClose).
BlockRow ProgressRow(const MainWindowView& view, int barCells) {
  const bool closeHint = view.Text(IDC_PERCENT) == kStatusCloseHint;
  return {{TerminalFrontEnd::ProgressBar(view.progressPosition, barCells),
           closeHint ? std::string() : Pair(view, IDC_PROGRESS_LABEL, IDC_PERCENT)},
          " "};
}

// The block for a terminal `columns` wide: each row on one line where it
// fits, otherwise one line per field, and a field wider than the terminal
// goes on over as many lines as it needs. No line is wider than `columns`.
std::vector<std::string> BlockLines(const MainWindowView& view, int columns) {
  const BlockRow rows[] = {
      {{Pair(view, IDC_CURRENT_VERSION_LABEL, IDC_CURRENT_VERSION),
        Pair(view, IDC_LATEST_VERSION_LABEL, IDC_LATEST_VERSION)},
       "  "},
      {{Pair(view, IDC_COUNT_LABEL, IDC_COUNT), Pair(view, IDC_SPEED_LABEL, IDC_SPEED)}, "  "},
      ProgressRow(view, std::min(TerminalFrontEnd::kBarCells, columns - 2)),
      {{PrintableText(view.Text(IDC_STATUS))}, ""},
  };
  std::vector<std::string> lines;
  for (const BlockRow& row : rows) {
    std::string line = Joined(row);
    if (TerminalColumns(line) <= columns) {
      lines.push_back(std::move(line));
      continue;
    }
    for (const std::string& field : row.fields) {
      for (std::string& piece : WrapToColumns(field, columns)) lines.push_back(std::move(piece));
    }
  }
  return lines;
}

enum class Answer { kYes, kNo, kUnclear };

// "y", "yes", "1" or "はい" consent; "n", "no", "0" or "いいえ" refuse;
// letter case and blanks around the answer do not matter.
Answer AnswerOf(std::string_view line) {
  const std::string_view answer = Trim(line, " \t\r\n");
  for (std::string_view yes : {"y", "yes", "1", "はい"}) {
    if (EqualsIgnoreCase(answer, yes)) return Answer::kYes;
  }
  for (std::string_view no : {"n", "no", "0", "いいえ"}) {
    if (EqualsIgnoreCase(answer, no)) return Answer::kNo;
  }
  return Answer::kUnclear;
}

// The message box's text with its line breaks as plain line feeds.
std::string WithoutCarriageReturns(const std::string& text) {
  std::string plain;
  for (char c : text) {
    if (c != '\r') plain += c;
  }
  return plain;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(std::FILE* in, std::FILE* out, bool inIsTerminal, bool outIsTerminal)
    : in_(in), out_(out), inIsTerminal_(inIsTerminal), outIsTerminal_(outIsTerminal) {}

std::string TerminalFrontEnd::ProgressBar(int position, int cells) {
  cells = std::max(cells, 1);
  const int filled = std::clamp(position - kProgressLower, 0, kProgressUpper - kProgressLower) * cells /
                     (kProgressUpper - kProgressLower);
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about the same
  // text built with operator+.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(cells - filled), '-');
  bar += ']';
  return bar;
}

void TerminalFrontEnd::Show(const MainWindowView& view) {
  if (outIsTerminal_) {
    shown_ = view;
    Redraw();
    return;
  }
  const std::string line =
      Joined({{PrintableText(view.Text(IDC_STATUS)), Pair(view, IDC_CURRENT_VERSION_LABEL, IDC_CURRENT_VERSION),
               Pair(view, IDC_LATEST_VERSION_LABEL, IDC_LATEST_VERSION), Pair(view, IDC_COUNT_LABEL, IDC_COUNT),
               Pair(view, IDC_SPEED_LABEL, IDC_SPEED), Joined(ProgressRow(view, kBarCells))},
              " | "});
  if (line == lastLine_) return;
  lastLine_ = line;
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void TerminalFrontEnd::Pump() {
  // A terminal whose width changed gets the block laid out anew.
  if (outIsTerminal_ && !drawnColumns_.empty() && OutputSize().columns != drawnWidth_) Redraw();
}

int TerminalFrontEnd::Ask(const std::string& text, const std::string& caption) {
  LeaveBlock();
  std::fprintf(out_, "【%s】%s\n%s", caption.c_str(), WithoutCarriageReturns(text).c_str(), kAnswerPrompt);
  std::fflush(out_);
  // Anything but a clear answer asks again; the end of the input is a no.
  // Typed answers are echoed by the terminal; others are shown as taken.
  std::string line;
  Answer answer = Answer::kUnclear;
  while (answer == Answer::kUnclear) {
    answer = ReadLine(line) ? AnswerOf(line) : Answer::kNo;
    if (!inIsTerminal_)
      std::fprintf(out_, "%s\n", answer == Answer::kUnclear ? "" : answer == Answer::kYes ? "y" : "n");
    if (answer == Answer::kUnclear) std::fprintf(out_, "%s", kAnswerPrompt);
    std::fflush(out_);
  }
  return answer == Answer::kYes ? 1 : 2;
}

void TerminalFrontEnd::WaitForClose(const std::string& reason) {
  LeaveBlock();
  if (!reason.empty()) std::fprintf(out_, "%s%s\n", kReasonLabel, PrintableText(reason).c_str());
  std::fprintf(out_, "%s\n", kStatusCloseHint);
  std::fflush(out_);
  std::string line;
  ReadLine(line);
}

void TerminalFrontEnd::ClearForRelaunch() {
  if (drawnColumns_.empty()) return;
  std::fprintf(out_, "%s\x1b[J", BackToBlock(OutputSize().columns).c_str());
  std::fflush(out_);
  LeaveBlock();
}

void TerminalFrontEnd::EndQuestions() { questionsEnded_ = true; }

void TerminalFrontEnd::Close() {
  LeaveBlock();
  std::fflush(out_);
}

bool TerminalFrontEnd::ReadLine(std::string& line) {
  line.clear();
  if (in_ == nullptr || questionsEnded_) return false;
  const int fd = fileno(in_);
  for (;;) {
    const size_t end = input_.find('\n');
    if (end != std::string::npos) {
      line = input_.substr(0, end);
      input_.erase(0, end + 1);
      return true;
    }
    if (inputEnded_ || fd < 0) {
      line = std::move(input_);
      input_.clear();
      return !line.empty();
    }
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, kInputWaitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
      MessageLoop::PumpPending();
      if (questionsEnded_) return false;
      continue;
    }
    char buffer[4096];
    const ssize_t got = ready > 0 ? read(fd, buffer, sizeof buffer) : -1;
    if (got > 0) {
      input_.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      inputEnded_ = true;
    }
  }
}

void TerminalFrontEnd::LeaveBlock() {
  drawnColumns_.clear();
  lastLine_.clear();
}

TerminalFrontEnd::TerminalSize TerminalFrontEnd::OutputSize() const {
  winsize size{};
  const int fd = fileno(out_);
  if (fd < 0 || ioctl(fd, TIOCGWINSZ, &size) != 0) return {kDefaultColumns, kDefaultRows};
  return {size.ws_col > 0 ? size.ws_col : kDefaultColumns, size.ws_row > 0 ? size.ws_row : kDefaultRows};
}

std::string TerminalFrontEnd::BackToBlock(int columns) const {
  // A terminal made narrower than the block re-wraps its lines (most do):
  // each then takes as many rows as the new width needs. A terminal that
  // cuts them instead loses as many lines above the block, never keeps a
  // second block.
  int rows = 0;
  for (int used : drawnColumns_) rows += columns < drawnWidth_ ? std::max(1, (used + columns - 1) / columns) : 1;
  return rows > 0 ? "\x1b[" + std::to_string(rows) + "F" : "";
}

void TerminalFrontEnd::Redraw() {
  const TerminalSize size = OutputSize();
  std::vector<std::string> lines = BlockLines(shown_, size.columns);
  // The block and the line of the cursor below it stay on the screen: rows
  // scrolled away could not be redrawn. The status line comes last and stays.
  const size_t fitting = static_cast<size_t>(std::max(size.rows - 1, 1));
  if (lines.size() > fitting) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(fitting));
  // Back to the first row of the block, every line cleared and rewritten,
  // and what a longer block drew before cleared below the new one.
  std::string text = BackToBlock(size.columns);
  drawnColumns_.clear();
  for (const std::string& line : lines) {
    text += "\x1b[2K" + line + "\n";
    drawnColumns_.push_back(TerminalColumns(line));
  }
  text += "\x1b[J";
  drawnWidth_ = size.columns;
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}
