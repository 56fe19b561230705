// The graphical front-end: the main window as a 725 x 400 window cut from
// its background picture (exactly white pixels are holes), placed at (0, 0)
// and draggable from any point, showing the view's texts and progress bar
// (MainWindowCanvas), and the message box (TovaMsgBox) for questions.
//
// Keys: Escape is swallowed everywhere. While a message box is open, keys
// are the box's (Enter answers はい). While the chain runs, the window
// manager's close is passed on as a close request (the window asks whether
// to stop) and Enter does nothing; once the chain has stopped, Enter or the
// window manager's close ends WaitForClose. The tray icon is a
// StatusNotifierItem (TrayIcon.h), taken away at Close.
//
// While a question is shown, the main window takes no mouse input, and the
// launcher messages keep being delivered (their changes are drawn). The main
// window is drawn at the next Pump, Ask, WaitForClose or Close after Show, so
// a burst of messages costs one drawing.
//
// Thread: create and use it on one thread, the UI thread, which runs the
// message loop; Ask is called there for questions from any thread (see
// platform/MessageBox.h).
#pragma once

#include <SDL.h>

#include <memory>
#include <optional>
#include <vector>

#include "ui/FrontEnd.h"
#include "ui/sdl/ScreenPointer.h"
#include "ui/sdl/SdlSurface.h"

class FontLadder;
class MainWindowCanvas;
class ShapedWindow;
class StatusNotifierItem;
class TovaMsgBox;

class SdlFrontEnd : public FrontEnd {
 public:
  // The front-end with its main window created (hidden until the first
  // Show); null when no display can be used: neither DISPLAY nor
  // WAYLAND_DISPLAY is set, SDL's video cannot start, no window font is
  // installed, or the window cannot be made.
  static std::unique_ptr<SdlFrontEnd> Create();
  ~SdlFrontEnd() override;
  SdlFrontEnd(const SdlFrontEnd&) = delete;
  SdlFrontEnd& operator=(const SdlFrontEnd&) = delete;

  void Show(const MainWindowView& view) override;
  // Shows the message box over the main window and handles events and
  // launcher messages until it is answered: 1 for はい, 2 otherwise.
  int Ask(const std::string& text, const std::string& caption) override;
  void AddTrayIcon(MessageWindow* window) override;
  void RemoveTrayIcon() override;
  void Pump() override;
  bool TakeCloseRequest() override;
  void WaitForClose(const std::string& reason) override;
  void EndQuestions() override;
  void Close() override;

  // The main window's position and size on the screen.
  SDL_Rect MainWindowBounds() const;
  // The main window's SDL id (SDL_GetWindowFromID).
  Uint32 MainWindowId() const;

 private:
  class Session;
  SdlFrontEnd();
  bool Init();

  // Delivers launcher messages (waiting up to `wait` for the first) and
  // handles the pending SDL events, then draws what changed.
  void Turn(int waitMs);
  void HandleEvent(const SDL_Event& event);
  void HandleMainWindowEvent(const SDL_Event& event);
  void Draw();

  // Declared first, so SDL ends after the windows and fonts.
  std::unique_ptr<Session> session_;
  std::unique_ptr<FontLadder> textFonts_;    // the controls and the message text
  std::unique_ptr<FontLadder> captionFont_;  // the message box caption
  std::unique_ptr<ShapedWindow> window_;
  std::unique_ptr<MainWindowCanvas> canvas_;
  SurfacePtr frame_;
  SurfacePtr icon_;
  std::unique_ptr<StatusNotifierItem> tray_;

  std::optional<MainWindowView> view_;  // the latest view shown
  bool dirty_ = false;                  // view_ not drawn yet
  bool visible_ = false;
  bool minimized_ = false;
  bool topmost_ = false;
  bool closeRequested_ = false;  // the window manager's close
  bool enterPressed_ = false;
  bool questionsEnded_ = false;
  ScreenPointer pointer_;
  std::vector<TovaMsgBox*> boxes_;  // open boxes, the innermost last
};
