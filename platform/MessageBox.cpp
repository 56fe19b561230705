#include "platform/MessageBox.h"

#include <memory>
#include <mutex>
#include <utility>

namespace {

struct Question {
  const std::string& text;
  const std::string& caption;
  MessageWindow* owner;
  int answer = kMessageBoxNo;
};

// The installed presenter with the window on its thread through which
// questions from other threads reach it.
struct Presenter {
  MessageBoxPresenter show;
  std::unique_ptr<MessageWindow> window;
};

std::mutex g_mutex;
std::shared_ptr<Presenter> g_presenter;  // guarded by g_mutex

constexpr MessageId kAskMessage = 1;

}  // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  std::shared_ptr<Presenter> installed;
  if (presenter) {
    installed = std::make_shared<Presenter>();
    installed->show = std::move(presenter);
    Presenter* raw = installed.get();
    installed->window = std::make_unique<MessageWindow>([raw](const Message& message) {
      auto* question = reinterpret_cast<Question*>(message.wParam);
      int answer = raw->show(question->text, question->caption, question->owner);
      question->answer = answer == kMessageBoxYes ? kMessageBoxYes : kMessageBoxNo;
    });
  }
  std::lock_guard lock(g_mutex);
  std::swap(g_presenter, installed);
  // The previous presenter goes with `installed`, after the lock is released.
}

int ShowMessageBox(const std::string& text, const std::string& caption, MessageWindow* owner) {
  std::shared_ptr<Presenter> presenter;
  {
    std::lock_guard lock(g_mutex);
    presenter = g_presenter;
  }
  if (!presenter) return kMessageBoxNo;
  Question question{text, caption, owner};
  // A direct call on the presenter's thread, a blocking hand-over otherwise.
  SendMessageTo(presenter->window.get(), kAskMessage, reinterpret_cast<WParam>(&question));
  return question.answer;
}
