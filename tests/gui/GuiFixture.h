// The main window with the graphical front-end on a private Xvfb, over a
// backdrop of one colour, driven by launcher messages sent from the test's
// thread (the UI thread). Questions can be asked from a worker thread while a
// third thread plays the user with xdotool.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/MessageWindow.h"
#include "tests/gui/ScreenView.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/TempDir.h"
#include "ui/CTovaLauncherDlg.h"
#include "ui/EventSink.h"
#include "ui/ProcedureControl.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/SdlFrontEnd.h"

namespace guitest {

// Shows through the holes of the windows.
inline constexpr Rgb kBackdrop{40, 110, 120};
inline constexpr std::chrono::milliseconds kScreenTimeout{10000};

class IdleProcedures : public ProcedureControl {
 public:
  void Init(MessageWindow*) override {}
  bool StartSelfPatch() override { return true; }
  bool StartGamePatch(std::string) override { return true; }
  bool StartGameRepair(std::string) override { return true; }
  bool StartGameInstall(std::string) override { return true; }
  void Stop() override { ++stops; }
  int stops = 0;
};

class SilentSink : public EventSink {
 public:
  void Report(std::string_view, std::string_view) override {}
  void ReportAsync(std::string_view, std::string_view) override {}
};

// Runs xdotool with `arguments`; true when it succeeded.
bool Xdotool(const std::string& arguments);

// The centre of a rectangle at `offset` within `origin` (screen coordinates).
SDL_Point CentreOf(const SDL_Rect& origin, SDL_Point offset, PictureSize size);

class GuiTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new XvfbServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override;
  void TearDown() override;

  void Send(MessageId id, WParam wParam = 0, LParam lParam = 0) { SendMessageTo(dlg->window(), id, wParam, lParam); }
  void SendText(MessageId id, const std::string& text) { Send(id, reinterpret_cast<WParam>(text.c_str())); }
  void SendSize(MessageId id, const std::string& size) { Send(id, 0, reinterpret_cast<LParam>(size.c_str())); }
  // The messages of a game patch downloading its second of three packages
  // at 45 %, between the versions 1.0.5 and 1.0.6.
  void SendPatchInProgress();

  // Lets the front-end draw until the screen in `rect` passes `check`
  // (which returns what is wrong, empty when nothing is); returns the last
  // complaint, empty on success.
  std::string WaitForScreen(const SDL_Rect& rect, const std::function<std::string(const Picture&)>& check);
  // Waits until the main window stands at `position`, handling its events.
  bool WaitForMainWindowAt(SDL_Point position);

  // Asks `text` from a worker thread while this thread runs the message
  // loop, as a procedure does. Once the box is mapped, `user` runs on a third
  // thread with its own view of the screen and the box's window. Returns the
  // answer; `boxBounds` is where the box was mapped.
  int AskFromWorker(const std::string& text,
                    const std::function<void(ScreenView&, const ScreenView::MappedWindow&)>& user);

  // From the user's thread of AskFromWorker: waits up to `timeout` until the
  // box has been answered; false when it has not.
  bool WaitForAnswer(std::chrono::milliseconds timeout) const;

  // Saves `view`'s `rect` as a PNG file into the folder named by
  // GUI_SCREENSHOT_DIR, when that is set.
  static void SaveScreenshot(ScreenView& view, const SDL_Rect& rect, const std::string& name);

  ScreenView screen;
  IdleProcedures procedures;
  SilentSink sink;
  std::unique_ptr<SdlFrontEnd> frontEnd;
  std::unique_ptr<CTovaLauncherDlg> dlg;
  std::optional<SDL_Rect> boxBounds;

 private:
  static XvfbServer* server_;
  std::atomic<bool> answered_ = false;  // the box of AskFromWorker
  testsupport::TempDir temp_;
  std::optional<testsupport::CurrentDirScope> cwd_;
};

}  // namespace guitest
