// The main window's logic without drawing: it creates nothing visible itself;
// a front-end (ui/FrontEnd.h) draws its view and answers its questions. At
// initialisation it reports "LE_LauncherStart", sets up the progress bar and
// the texts, initialises the procedures and starts the self-update; from then
// on every launcher message goes to the display (ui/MainWindowDisplay.h) and
// then to the workflow control (ui/WorkflowControl.h), which decide what is
// shown and what runs next. It runs the remaining-time timer, and the
// commands of its hidden buttons and its tray icon are operations.
//
// A stop can be asked for while the chain runs: closing the window or Ctrl-C
// on a terminal asks once whether to stop (a close by mistake must not cut an
// update short); a signal from a script or a session manager stops at once.
// Stopping signals the procedures' stop event, abandons the running download
// (its bytes stay for the next run), writes why to the launch log and ends
// the window with kInterrupted.
//
// Thread: everything runs on the thread that created the window (the UI
// thread), which delivers the messages of the procedures' worker threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "platform/MessageWindow.h"
#include "ui/GameStart.h"
#include "ui/MainWindowDisplay.h"
#include "ui/WorkflowControl.h"

class EventSink;
class FrontEnd;
class ProcedureControl;

// How the launcher's run ended.
enum class LauncherOutcome {
  kStopped,      // a failure, a refusal, or the user closed the window
  kGameStarted,  // the game client was started
  kRelaunch,     // the self-update replaced launcher files: start the installed launcher again
  kInterrupted,  // a stop was asked for (and confirmed where asked) while the chain ran
};

// Who asks to stop the chain.
enum class StopRequest : uintptr_t {
  kWindowClosed,  // the window manager's close: asked first
  kInterrupt,     // Ctrl-C on a terminal (SIGINT with a terminal as input): asked first
  kSigint,        // SIGINT without a terminal: at once
  kSigterm,       // SIGTERM: at once
};

class CTovaLauncherDlg : private WorkflowWindow, private GameStartHost {
 public:
  // The clock that schedules the remaining-time timer.
  using TimerClock = std::function<std::chrono::steady_clock::time_point()>;

  // The window on the calling thread. Installs the front-end's answers as
  // this thread's message box presenter. `repaireFlag`: the command line
  // holds "-repaire". `relaunched`: the launcher runs after a relaunch (see
  // WorkflowControl). The collaborators must outlive the window.
  CTovaLauncherDlg(ProcedureControl& procedures, EventSink& events, FrontEnd& frontEnd, bool repaireFlag,
                   bool relaunched = false, TimerClock clock = std::chrono::steady_clock::now);
  // Waits for a game start thread (delivering messages meanwhile) and removes
  // the presenter. Messages that arrive after the window ended change nothing.
  ~CTovaLauncherDlg() override;
  CTovaLauncherDlg(const CTovaLauncherDlg&) = delete;
  CTovaLauncherDlg& operator=(const CTovaLauncherDlg&) = delete;

  // The receiver of the launcher messages.
  MessageWindow* window() { return &window_; }

  // Initialisation: "LE_LauncherStart" on a thread of its own, the bar at 1,
  // texts reset, mode 0, Init of the procedures and the self-update started.
  void OnInitDialog();

  // Any thread: the window handles `request` on its own thread.
  void RequestStop(StopRequest request);

  // OnInitDialog, then RunModalLoop.
  LauncherOutcome DoModal();

  // Delivers messages, runs the timer and gives the front-end its turns until
  // the window ends; when the chain stops with the window open, waits for the
  // front-end's close. Returns how the run ended.
  LauncherOutcome RunModalLoop();

  // Hidden buttons: IDC_START_BUTTON runs the game start (unless disabled or
  // already done), IDC_CLOSE_BUTTON ends the window, IDC_MINIMIZE_BUTTON
  // shows it minimised.
  void OnCommand(int controlId);

  // One tick of the remaining-time timer.
  void OnTimer();

  const MainWindowView& view() const { return display_.view(); }
  WorkflowMode mode() const { return workflow_.mode(); }
  bool ended() const { return ended_; }
  bool chainStopped() const { return chainStopped_; }
  LauncherOutcome outcome() const { return outcome_; }

 private:
  // WorkflowWindow
  MessageWindow* Window() override { return &window_; }
  void StartGame() override;
  void RelaunchInstalledLauncher() override;
  void EndWindow() override;
  void StopChain() override;
  // GameStartHost
  EventSink& Events() override { return events_; }
  void ShowStatus(const std::string& text) override;
  void EndWindow(bool clientStarted) override;

  void Dispatch(const Message& message);
  // Asks first where the request calls for it (one question at a time).
  void OnStopRequest(StopRequest request);
  void StopOnRequest(StopRequest request);
  void EndDialog(LauncherOutcome outcome);
  // Follows the display's timer state: the first tick is due 1000 ms after a start.
  void SyncTimer();
  void ShowIfChanged();

  ProcedureControl& procedures_;
  EventSink& events_;
  FrontEnd& frontEnd_;
  MainWindowDisplay display_;
  WorkflowControl workflow_;

  TimerClock clock_;
  bool ended_ = false;
  bool chainStopped_ = false;
  bool askingStop_ = false;
  LauncherOutcome outcome_ = LauncherOutcome::kStopped;
  std::optional<MainWindowView> shown_;
  std::optional<std::chrono::steady_clock::time_point> nextTick_;  // set while the timer runs

  bool gameStartRequested_ = false;
  std::thread gameThread_;
  std::atomic<bool> gameEndPosted_ = false;

  MessageWindow window_;  // last: destroyed first, so no handler runs on a half-destroyed window
};
