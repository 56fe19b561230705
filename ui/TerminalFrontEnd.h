// The terminal front-end, used when no display is available: the status
// line, the versions, the counter, the speed, the percentage and a text
// progress bar. On a terminal they form a block redrawn in place, laid out
// for the terminal's width at each redraw (wide characters take two
// columns); otherwise they are written as plain lines, one whenever what is
// shown changes, without cursor movements. Questions are written out
// and answered by a line of input: "y", "yes", "1" or "はい" is consent, "n",
// "no", "0" or "いいえ" refusal (letter case and blanks around do not
// matter); anything else asks again, and the end of input is refusal. A window whose chain has stopped writes the
// launch log's reason under its status line and is closed by a line or the end of input. While a question or the close
// waits for its line, the thread keeps delivering the messages sent and posted to its windows, as every modal wait
// does.
//
// Thread: the window's thread. The streams stay owned by the caller; the
// input is read through its file descriptor (the stream's own buffer is not
// used), so nothing else may read from it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ui/FrontEnd.h"

class TerminalFrontEnd : public FrontEnd {
 public:
  // `outIsTerminal`: redraw the window's lines in place; otherwise plain
  // lines. `inIsTerminal`: the user types the answers (they are not echoed).
  TerminalFrontEnd(std::FILE* in, std::FILE* out, bool inIsTerminal, bool outIsTerminal);

  void Show(const MainWindowView& view) override;
  int Ask(const std::string& text, const std::string& caption) override;
  // Lays the block out anew when the terminal's width has changed.
  void Pump() override;
  void WaitForClose(const std::string& reason) override;
  void EndQuestions() override;
  void ClearForRelaunch() override;
  void Close() override;

  // The text progress bar of a bar position: "[", `cells` cells of "#" or
  // "-", "]".
  static constexpr int kBarCells = 30;
  static std::string ProgressBar(int position, int cells = kBarCells);

 private:
  // Reads one line without its line end, delivering messages while none has
  // arrived; false at the end of input.
  bool ReadLine(std::string& line);
  // Lets the next Show start a new block below what was written since.
  void LeaveBlock();

  struct TerminalSize {
    int columns;
    int rows;
  };
  // The output terminal's size now; 80 x 24 when it does not tell.
  TerminalSize OutputSize() const;
  // The cursor movement from below the drawn block to its first row, on a
  // terminal now `columns` wide.
  std::string BackToBlock(int columns) const;
  // Draws `shown_` over the block drawn before.
  void Redraw();

  std::FILE* in_;
  std::FILE* out_;
  bool inIsTerminal_;
  bool outIsTerminal_;
  std::string input_;              // read, not yet taken as lines
  bool inputEnded_ = false;        // the end of input, or a read error, was met
  MainWindowView shown_;           // what the block shows
  std::vector<int> drawnColumns_;  // the columns of each line of the block drawn in place
  int drawnWidth_ = 0;             // the terminal's width when it was drawn
  bool questionsEnded_ = false;
  std::string lastLine_;  // the last plain line written
};
