#include "ui/CTovaLauncherDlg.h"

#include <algorithm>
#include <utility>

#include "platform/MessageBox.h"
#include "ui/EventSink.h"
#include "ui/FrontEnd.h"
#include "ui/ProcedureControl.h"
#include "ui/StatusTexts.h"
#include "ui/TrayMessages.h"
#include "util/LaunchLog.h"
#include "util/LaunchLogFailure.h"

namespace {

// The window's own messages from the game start thread: the end of the
// window (posted; wParam the LauncherOutcome) and a status text (sent; wParam
// the address of a std::string); and a request to stop (posted from any
// thread; wParam the StopRequest).
constexpr MessageId kEndDialogMessage = 0x8001;
constexpr MessageId kShowStatusMessage = 0x8002;
constexpr MessageId kStopRequestMessage = 0x8003;

// The launch log's reason for a stopped chain, cut to about one line.
constexpr size_t kReasonBytes = 160;

const char* NameOf(StopRequest request) {
  switch (request) {
    case StopRequest::kWindowClosed: return "the window was closed";
    case StopRequest::kInterrupt: return "Ctrl-C";
    case StopRequest::kSigint: return "SIGINT";
    case StopRequest::kSigterm: return "SIGTERM";
  }
  return "request";
}

constexpr std::chrono::milliseconds kTimerInterval{1000};
// The longest the loop waits for a message before the front-end's turn.
constexpr std::chrono::milliseconds kPumpInterval{50};

}  // namespace

CTovaLauncherDlg::CTovaLauncherDlg(ProcedureControl& procedures, EventSink& events, FrontEnd& frontEnd,
                                   bool repaireFlag, bool relaunched, TimerClock clock)
    : procedures_(procedures),
      events_(events),
      frontEnd_(frontEnd),
      workflow_(display_, procedures, events, *this, repaireFlag, relaunched),
      clock_(std::move(clock)),
      window_([this](const Message& message) { Dispatch(message); }) {
  SetMessageBoxPresenter([this](const std::string& text, const std::string& caption, MessageWindow*) {
    ShowIfChanged();
    return frontEnd_.Ask(text, caption);
  });
}

CTovaLauncherDlg::~CTovaLauncherDlg() {
  frontEnd_.RemoveTrayIcon();  // before the window goes
  if (gameThread_.joinable()) {
    // The thread's last step is to post the end of the window; until then it
    // may wait for this thread (status text, message box).
    MessageLoop::RunUntil([this] { return gameEndPosted_.load(); });
    gameThread_.join();
  }
  SetMessageBoxPresenter(nullptr);
}

void CTovaLauncherDlg::OnInitDialog() {
  frontEnd_.AddTrayIcon(&window_);
  // Nobody waits for the start event.
  events_.ReportAsync("LE_LauncherStart", "");
  display_.SetProgress(0);
  display_.ResetProgressTexts();
  workflow_.SetMode(WorkflowMode::MODE_SELF_UPDATE);
  procedures_.Init(&window_);
  workflow_.BeginSelfPatch();
  ShowIfChanged();
}

LauncherOutcome CTovaLauncherDlg::DoModal() {
  OnInitDialog();
  return RunModalLoop();
}

LauncherOutcome CTovaLauncherDlg::RunModalLoop() {
  while (!ended_) {
    std::chrono::milliseconds wait = kPumpInterval;
    if (nextTick_) {
      const auto untilTick = std::chrono::duration_cast<std::chrono::milliseconds>(*nextTick_ - clock_());
      wait = std::clamp(untilTick, std::chrono::milliseconds(0), kPumpInterval);
    }
    MessageLoop::PumpPending(wait);
    frontEnd_.Pump();
    if (!ended_ && frontEnd_.TakeCloseRequest()) OnStopRequest(StopRequest::kWindowClosed);
    if (nextTick_ && clock_() >= *nextTick_) OnTimer();
    if (chainStopped_ && !ended_) {
      ShowIfChanged();
      frontEnd_.WaitForClose(LastLaunchLogFailure(kReasonBytes));
      EndDialog(LauncherOutcome::kStopped);
    }
  }
  if (outcome_ == LauncherOutcome::kRelaunch) frontEnd_.ClearForRelaunch();
  frontEnd_.Close();
  return outcome_;
}

void CTovaLauncherDlg::RequestStop(StopRequest request) {
  PostMessageTo(&window_, kStopRequestMessage, static_cast<WParam>(request));
}

void CTovaLauncherDlg::OnCommand(int controlId) {
  if (ended_) return;
  switch (controlId) {
    case IDC_START_BUTTON:
      if (view().startButtonEnabled) StartGame();
      break;
    case IDC_CLOSE_BUTTON: EndDialog(LauncherOutcome::kStopped); break;
    case IDC_MINIMIZE_BUTTON: display_.SetMinimized(true); break;
    default: break;
  }
  ShowIfChanged();
}

void CTovaLauncherDlg::OnTimer() {
  if (ended_ || !display_.timerRunning()) return;
  display_.OnTimer();
  nextTick_ = clock_() + kTimerInterval;
  ShowIfChanged();
}

void CTovaLauncherDlg::StartGame() {
  if (gameStartRequested_) return;  // one client start per window
  gameStartRequested_ = true;
  gameThread_ = ::StartGame(*this);
}

void CTovaLauncherDlg::RelaunchInstalledLauncher() {
  display_.SetProgress(kProgressUpper);
  WriteLaunchLog("NM_LAUNCHER_SELF_PATCH_DONE");
  EndDialog(LauncherOutcome::kRelaunch);
}

void CTovaLauncherDlg::EndWindow() { EndDialog(LauncherOutcome::kStopped); }

void CTovaLauncherDlg::StopChain() { chainStopped_ = true; }

void CTovaLauncherDlg::ShowStatus(const std::string& text) {
  SendMessageTo(&window_, kShowStatusMessage, reinterpret_cast<WParam>(&text));
}

void CTovaLauncherDlg::EndWindow(bool clientStarted) {
  const LauncherOutcome outcome = clientStarted ? LauncherOutcome::kGameStarted : LauncherOutcome::kStopped;
  PostMessageTo(&window_, kEndDialogMessage, static_cast<WParam>(outcome));
  gameEndPosted_.store(true);
}

void CTovaLauncherDlg::Dispatch(const Message& message) {
  if (ended_) return;  // the window is gone
  switch (message.id) {
    case kEndDialogMessage: EndDialog(static_cast<LauncherOutcome>(message.wParam)); return;
    case kShowStatusMessage: display_.SetText(IDC_STATUS, *reinterpret_cast<const std::string*>(message.wParam)); break;
    case kStopRequestMessage: OnStopRequest(static_cast<StopRequest>(message.wParam)); break;
    case UM_TRAY_NOTIFY:
      if (message.lParam == kTrayLeftButtonDown) display_.SetTopmost(true);
      break;
    default: workflow_.OnMessage(message, display_.Apply(message)); break;
  }
  SyncTimer();
  ShowIfChanged();
}

void CTovaLauncherDlg::OnStopRequest(StopRequest request) {
  if (ended_) return;
  const bool ask = request == StopRequest::kWindowClosed || request == StopRequest::kInterrupt;
  if (!ask) {
    StopOnRequest(request);
    return;
  }
  if (askingStop_) return;  // the question is already open
  ShowIfChanged();
  askingStop_ = true;
  const bool yes = frontEnd_.Ask(kStopQuestion, kMessageCaption) == kMessageBoxYes;
  askingStop_ = false;
  if (ended_) return;
  ShowIfChanged();
  if (yes) {
    StopOnRequest(request);
  } else {
    WriteLaunchLog("stop declined (%s): the run goes on", NameOf(request));
  }
}

void CTovaLauncherDlg::StopOnRequest(StopRequest request) {
  WriteLaunchLog("stopped on request (%s): the running procedure is cancelled, its download kept for the next run",
                 NameOf(request));
  procedures_.Stop();
  EndDialog(LauncherOutcome::kInterrupted);
  frontEnd_.EndQuestions();
}

void CTovaLauncherDlg::EndDialog(LauncherOutcome outcome) {
  if (ended_) return;
  ended_ = true;
  outcome_ = outcome;
}

void CTovaLauncherDlg::SyncTimer() {
  if (!display_.timerRunning()) {
    nextTick_.reset();
  } else if (!nextTick_) {
    nextTick_ = clock_() + kTimerInterval;
  }
}

void CTovaLauncherDlg::ShowIfChanged() {
  // While the stop question is open the chain goes on, but what it shows
  // waits for the answer: a terminal's redrawn block would bury the question.
  if (askingStop_ || shown_ == display_.view()) return;
  shown_ = display_.view();
  frontEnd_.Show(*shown_);
}
