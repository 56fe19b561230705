// The workflow control: what runs next after each procedure's final message,
// the analytics events that trace the chain, the progress milestones, the
// failure dialogs and the repair question. The chain: self-update; then the
// game install (no "..\GameInfo.ini"), the repair question ("-repaire") or the
// game patch; a failed page unzip may go on as an install through the repair
// procedure, a failed patch as a game repair; an up-to-date or finished patch
// and a repair with nothing to do start the game. A self-update that replaced
// files relaunches the installed launcher, once per start: after a relaunch
// it goes on with the game as if nothing had been replaced, since a list that
// differs on every run would otherwise relaunch for ever.
//
// Thread: the window's thread, inside the handlers of the launcher messages.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>

#include "platform/MessageWindow.h"

class EventSink;
class MainWindowDisplay;
class ProcedureControl;
enum class ProcedureId : int32_t;  // Procedure/ProcedureBase.h

// The workflow being followed; it selects the event names. A scoped enum
// with fixed numbers.
enum class WorkflowMode : int32_t {
  MODE_SELF_UPDATE = 0,
  MODE_CP_INSTALL = 1,  // install from installation pages
  MODE_RP_INSTALL = 2,  // install through the repair procedure
  MODE_GAME_PATCH = 3,
  MODE_GAME_REPAIR = 4,
  MODE_START_GAME = 5,
};

// Name and number, e.g. "MODE_GAME_PATCH (3)" (test traces).
void PrintTo(WorkflowMode mode, std::ostream* out);

// What the workflow asks of the window it runs in.
class WorkflowWindow {
 public:
  virtual ~WorkflowWindow() = default;
  // The owner of the message boxes.
  virtual MessageWindow* Window() = 0;
  // The game start (runtime check, installer, client start).
  virtual void StartGame() = 0;
  // The self-update replaced launcher files: start the installed launcher
  // again and end.
  virtual void RelaunchInstalledLauncher() = 0;
  // End the window with the cancel result after a failure or a refusal.
  virtual void EndWindow() = 0;
  // Nothing more will run; the window stays open until the user closes it.
  virtual void StopChain() = 0;
};

class WorkflowControl {
 public:
  // `repaireFlag`: the command line asks for a game repair. `relaunched`:
  // the launcher was relaunched after a self-update in this start.
  WorkflowControl(MainWindowDisplay& display, ProcedureControl& procedures, EventSink& events, WorkflowWindow& window,
                  bool repaireFlag, bool relaunched = false);

  WorkflowMode mode() const { return mode_; }
  // Sets the mode and the last reported percentage of every milestone to 0.
  void SetMode(WorkflowMode mode);

  // Starts the self-update, the first step of the chain.
  void BeginSelfPatch();

  // The events and decisions that follow `message`, after the display has
  // reacted to it; `percent` is what the display returned.
  void OnMessage(const Message& message, std::optional<double> percent);

  // Mode 3, texts reset, the game patch started with [update] updateUrl.
  void BeginGamePatch();
  // The game repair with [repaire] repaireUrl; the caller sets the mode.
  void BeginGameRepair();
  // The game install with [install] installUrl; the caller sets the mode.
  void BeginGameInstall();
  // "ゲームデータを復元しますか?": yes starts the game repair (mode 4), any
  // other answer ends the window.
  void AskGameRepair();

  // The four failure dialogs: status line, message box, then the end of the
  // window or (for the patch and the install, answered yes) a repair.
  void OnSelfUpdateFailed();
  void OnGamePatchFailed();
  void OnInstallFailed();
  void OnRepairFailed();

 private:
  // After the self-update: the game install (no game list), the repair
  // question ("-repaire") or the game patch.
  void ContinueWithGame();
  // The chain now waits for the final message of `procedureId`; a procedure
  // that could not be started stops the chain.
  void Follow(ProcedureId procedureId, bool started);
  // A failure that ends only with its event stops the chain when it comes
  // from the procedure the chain waits for (not from one it has left behind).
  void StopIfFollowed(ProcedureId procedureId);
  // The chain stops in `procedureId`: the status line says that its step
  // failed, the remaining time and the speed are cleared, and the
  // percentage's row says how to close the window.
  void StopChain(ProcedureId procedureId);
  void Milestone(int slot, const char* event, double percent);
  // Status line, then the question; true when it was answered yes.
  bool AskAfterFailure(const char* status, const char* text);

  MainWindowDisplay& display_;
  ProcedureControl& procedures_;
  EventSink& events_;
  WorkflowWindow& window_;
  const bool repaireFlag_;
  const bool relaunched_;

  WorkflowMode mode_ = WorkflowMode::MODE_SELF_UPDATE;
  // Last percentage reported as a progress event: self-update, install
  // through repair, page install, game patch, game repair.
  std::array<int, 5> reportedPercent_{};
  std::optional<ProcedureId> followed_;  // none: no procedure
};
