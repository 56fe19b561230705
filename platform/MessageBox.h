// Yes/no questions and failure notices. Any thread may ask; the question is
// answered on the UI thread by the front-end that installed a presenter there
// (a window of its own, a terminal prompt, or a scripted responder in tests).
#pragma once

#include <functional>
#include <string>

#include "platform/MessageWindow.h"

// Answers of ShowMessageBox.
inline constexpr int kMessageBoxYes = 1;  // left button
inline constexpr int kMessageBoxNo = 2;   // right button, or any other dismissal

// Shows the question modally over `owner` and returns its answer. The
// presenter may return anything; only kMessageBoxYes counts as consent and
// every other value becomes kMessageBoxNo.
using MessageBoxPresenter =
    std::function<int(const std::string& text, const std::string& caption, MessageWindow* owner)>;

// Installs `presenter` (an empty one removes it). The calling thread becomes
// the thread that answers: it must run a MessageLoop while questions may come
// from other threads. Replaces any earlier presenter.
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

// Asks the installed presenter and returns kMessageBoxYes or kMessageBoxNo.
// On the presenter's thread the presenter is called directly; from any other
// thread the caller blocks until the presenter's thread has answered. With no
// presenter installed, or when the presenter's thread has ended before
// answering, the answer is kMessageBoxNo.
int ShowMessageBox(const std::string& text, const std::string& caption, MessageWindow* owner);
