// What a front-end does for the main window: draw its view, answer its
// questions, give its own input a turn, pass on the user's wish to close the
// window while the chain runs, and let the user close a window whose chain
// has stopped. The terminal front-end (TerminalFrontEnd) and a
// graphical one implement it. Every call comes on the window's thread.
#pragma once

#include <string>

#include "ui/MainWindowView.h"

class MessageWindow;

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Draws the window as `view` shows it; called when the window opens and
  // after every change.
  virtual void Show(const MainWindowView& view) = 0;

  // A question or notice of the message box (caption "メッセージ" and its
  // text); returns 1 for the left button (yes), anything else for refusal.
  // The status line set just before it has already been shown.
  virtual int Ask(const std::string& text, const std::string& caption) = 0;

  // The window's notification-area icon, which posts UM_TRAY_NOTIFY
  // (ui/TrayMessages.h) to `window` until RemoveTrayIcon. A front-end
  // without one does nothing.
  virtual void AddTrayIcon(MessageWindow* /*window*/) {}
  virtual void RemoveTrayIcon() {}

  // Called between messages, at least every 50 ms while the window runs.
  virtual void Pump() {}

  // True once for each time the user closed the window (the window
  // manager's close) since the last call; the window then asks whether to
  // stop the chain.
  virtual bool TakeCloseRequest() { return false; }

  // The chain has stopped with the window open (the status line says how):
  // shows `reason`, one line of the launch log (may be empty), where the
  // front-end has room for it, and returns when the user has closed the
  // window.
  virtual void WaitForClose(const std::string& reason) = 0;

  // The window has ended while a question or the close may be waiting: they
  // return at once (a question as refused), and so do later ones.
  virtual void EndQuestions() {}

  // The window has ended for a relaunch: the next launcher process shows on
  // the same output, so what was drawn in place is taken away. Close follows.
  virtual void ClearForRelaunch() {}

  // The window has ended; nothing more is shown.
  virtual void Close() {}
};
