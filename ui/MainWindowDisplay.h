// The main window's display logic: the state table that the launcher messages
// fill (versions, counters, sizes, speed, remaining time) and what the window
// shows from it (control texts and the progress bar's position). It draws
// nothing; a front-end draws view(). The workflow decisions that follow some
// of the messages are WorkflowControl's.
//
// Thread: the window's thread only. Text arguments of messages are read
// during the call only.
#pragma once

#include <optional>
#include <string>

#include "platform/MessageWindow.h"
#include "ui/MainWindowView.h"

class MainWindowDisplay {
 public:
  // Every text empty, the bar at its lower bound, the state table zeroed.
  MainWindowDisplay() = default;

  const MainWindowView& view() const { return view_; }

  // The display reaction of one launcher message; messages without one change
  // nothing. Returns the percentage p that the message set the bar to, when
  // it sets the bar. A total of 0 gives a percentage of 0; a null text
  // argument reads as an empty text and a null integer address as 0.
  std::optional<double> Apply(const Message& message);

  // Empties the texts of every text control and zeroes the counters of the
  // current run (repair file count, patch sizes and package counts, the
  // current download's size and progress) and the two version texts.
  void ResetProgressTexts();

  // The bar to the integer part of p, clamped to the range 1 to 100, then
  // advanced by its step, which is 0.
  void SetProgress(double p);

  void SetText(int controlId, std::string text);
  void SetStartButtonEnabled(bool enabled);
  void SetMinimized(bool minimized);
  void SetTopmost(bool topmost);

  // The remaining-time timer: started by the first UM_INSTALL_TIMER_START in
  // the display's life only, stopped by UM_PAGES_BEGIN and by the install
  // failures that concern downloads.
  bool timerRunning() const { return timerRunning_; }

  // The chain has stopped: the timer stops, and neither the remaining time
  // nor the speed is shown any more.
  void ShowStopped();

  // One tick of the timer (due every 1000 ms while it runs; ignored while it
  // is stopped): with a known speed and time left, shows the remaining time
  // "HH:MM:SS" (hours of the day), and the overall percentage with sizes,
  // which the bar follows too. The time shown moves from the last one shown,
  // less the second that passed, a part of the way towards the time the
  // bytes left at the current speed need, so that it counts down steadily
  // instead of jumping with every change of speed.
  void OnTimer();

 private:
  void ShowPercent(double p);
  void ShowCounter(const char* label, int index, int total);
  void ShowInstallPercent(double p, double done);
  // The bytes of a download in progress moved the patch's or the repair's
  // progress: the percentage and the bar show them. Returns the percentage.
  std::optional<double> ShowDownloadInProgress();

  MainWindowView view_;

  std::string latestVersion_;
  std::string currentVersion_;
  int repairFileCount_ = 0;
  int repairStep_ = 0;  // of the last UM_REPAIR_FILE_STEP of this run; 0 before
  int repairIndex_ = 0;
  int updateItemTotal_ = 0;
  int updateItemIndex_ = 0;
  int pageTotal_ = 0;
  int pageIndex_ = 0;
  double patchTotalBytes_ = 0;
  double patchDoneBytes_ = 0;
  int patchCount_ = 0;
  int patchIndex_ = 0;
  double installTotalBytes_ = 0;
  double installDoneBytes_ = 0;
  double overallDoneBytes_ = 0;
  int currentFileTotal_ = 0;
  int currentFileReceived_ = 0;
  int installPageCount_ = 0;
  int installPageIndex_ = 0;
  int downloadSpeed_ = 0;
  double remainingSeconds_ = 0;
  double shownRemainingSeconds_ = 0;  // 0: none shown since the last gap
  // The status line that a retry's waiting text replaced, and that text: the
  // first bytes that arrive afterwards bring the line back.
  std::string statusBeforeWaiting_;
  std::string waitingText_;
  bool timerStarted_ = false;  // never cleared
  bool timerRunning_ = false;
};
