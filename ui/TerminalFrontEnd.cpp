#include "ui/TerminalFrontEnd.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string_view>

#include "platform/AsciiText.h"
#include "platform/MessageWindow.h"
#include "ui/StatusTexts.h"

namespace {

constexpr int kBarCells = 30;
// How long one wait for input lasts before the messages get their turn.
constexpr int kInputWaitMs = 50;
constexpr const char* kAnswerPrompt = "はい(y) / いいえ(n): ";
// Before the launch log's reason for a stopped chain.
constexpr const char* kReasonLabel = "原因: ";

// The label and the value of a control pair, as one text.
std::string Pair(const MainWindowView& view, int label, int value) { return view.Text(label) + view.Text(value); }

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
  if (!reason.empty()) std::fprintf(out_, "%s%s\n", kReasonLabel, reason.c_str());
  std::fprintf(out_, "%s\n", kStatusCloseHint);
  std::fflush(out_);
  std::string line;
  ReadLine(line);
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
  drawnLines_ = 0;
  lastLine_.clear();
}
