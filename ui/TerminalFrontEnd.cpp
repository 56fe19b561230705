#include "ui/TerminalFrontEnd.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/AsciiText.h"

namespace {

constexpr int kBarCells = 30;
constexpr const char* kAnswerPrompt = "はい(y) / いいえ(n): ";
constexpr const char* kClosePrompt = "Enterキーを押すと閉じます。";

// The label and the value of a control pair, as one text.
std::string Pair(const MainWindowView& view, int label, int value) { return view.Text(label) + view.Text(value); }

// Consent: "y", "yes" or "1", without regard to letter case or blanks around it.
bool IsConsent(std::string_view line) {
  const std::string_view answer = Trim(line, " \t\r\n");
  return EqualsIgnoreCase(answer, "y") || EqualsIgnoreCase(answer, "yes") || answer == "1";
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

std::string TerminalFrontEnd::ProgressBar(int position) {
  const int filled = std::clamp(position - kProgressLower, 0, kProgressUpper - kProgressLower) * kBarCells /
                     (kProgressUpper - kProgressLower);
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about the same
  // text built with operator+.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarCells - filled), '-');
  bar += ']';
  return bar;
}

void TerminalFrontEnd::Show(const MainWindowView& view) {
  const std::string percent = Pair(view, IDC_PROGRESS_LABEL, IDC_PERCENT);
  const std::string progress = ProgressBar(view.progressPosition) + (percent.empty() ? "" : " " + percent);
  if (outIsTerminal_) {
    const std::string lines[] = {
        Pair(view, IDC_CURRENT_VERSION_LABEL, IDC_CURRENT_VERSION) + "  " +
            Pair(view, IDC_LATEST_VERSION_LABEL, IDC_LATEST_VERSION),
        Pair(view, IDC_COUNT_LABEL, IDC_COUNT) + "  " + Pair(view, IDC_SPEED_LABEL, IDC_SPEED),
        progress,
        view.Text(IDC_STATUS),
    };
    // Back to the first line of the block, then every line cleared and rewritten.
    if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%dF", drawnLines_);
    for (const std::string& line : lines) std::fprintf(out_, "\x1b[2K%s\n", line.c_str());
    drawnLines_ = static_cast<int>(std::size(lines));
  } else {
    std::string line;
    for (const std::string& part :
         {view.Text(IDC_STATUS), Pair(view, IDC_CURRENT_VERSION_LABEL, IDC_CURRENT_VERSION),
          Pair(view, IDC_LATEST_VERSION_LABEL, IDC_LATEST_VERSION), Pair(view, IDC_COUNT_LABEL, IDC_COUNT),
          Pair(view, IDC_SPEED_LABEL, IDC_SPEED), progress}) {
      if (part.empty()) continue;
      if (!line.empty()) line += " | ";
      line += part;
    }
    if (line == lastLine_) return;
    lastLine_ = line;
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

int TerminalFrontEnd::Ask(const std::string& text, const std::string& caption) {
  LeaveBlock();
  std::fprintf(out_, "【%s】%s\n%s", caption.c_str(), WithoutCarriageReturns(text).c_str(), kAnswerPrompt);
  std::fflush(out_);
  std::string line;
  const bool yes = ReadLine(line) && IsConsent(line);
  // Typed answers are echoed by the terminal; others are shown as taken.
  if (!inIsTerminal_) std::fprintf(out_, "%s\n", yes ? "y" : "n");
  std::fflush(out_);
  return yes ? 1 : 2;
}

void TerminalFrontEnd::WaitForClose() {
  LeaveBlock();
  std::fprintf(out_, "%s\n", kClosePrompt);
  std::fflush(out_);
  std::string line;
  ReadLine(line);
}

void TerminalFrontEnd::Close() {
  LeaveBlock();
  std::fflush(out_);
}

bool TerminalFrontEnd::ReadLine(std::string& line) {
  line.clear();
  if (in_ == nullptr) return false;
  int c = 0;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
  return c == '\n' || !line.empty();
}

void TerminalFrontEnd::LeaveBlock() {
  drawnLines_ = 0;
  lastLine_.clear();
}
