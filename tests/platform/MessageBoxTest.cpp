#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/MessageBox.h"

namespace {

// Each test installs its own scripted responder and removes it at the end.
class MessageBoxTest : public testing::Test {
 protected:
  void TearDown() override { SetMessageBoxPresenter(nullptr); }
};

}  // namespace

TEST_F(MessageBoxTest, WithoutPresenterTheAnswerIsNo) {
  EXPECT_EQ(ShowMessageBox("text", "caption", nullptr), kMessageBoxNo);
  SetMessageBoxPresenter([](const std::string&, const std::string&, MessageWindow*) { return 1; });
  SetMessageBoxPresenter(nullptr);
  EXPECT_EQ(ShowMessageBox("text", "caption", nullptr), kMessageBoxNo);
}

TEST_F(MessageBoxTest, OnlyTheLeftButtonIsConsent) {
  const struct {
    int presenterAnswer;
    int expected;
  } cases[] = {{1, 1}, {2, 2}, {0, 2}, {-1, 2}, {3, 2}};
  for (const auto& c : cases) {
    SetMessageBoxPresenter([&](const std::string&, const std::string&, MessageWindow*) { return c.presenterAnswer; });
    EXPECT_EQ(ShowMessageBox("q", "c", nullptr), c.expected) << c.presenterAnswer;
  }
}

TEST_F(MessageBoxTest, OnThePresenterThreadThePresenterIsCalledDirectly) {
  MessageWindow owner([](const Message&) {});
  std::string seenText;
  std::string seenCaption;
  MessageWindow* seenOwner = nullptr;
  SetMessageBoxPresenter([&](const std::string& text, const std::string& caption, MessageWindow* ownerWindow) {
    seenText = text;
    seenCaption = caption;
    seenOwner = ownerWindow;
    return 1;
  });
  EXPECT_EQ(ShowMessageBox("ゲームを修復しますか？", "確認", &owner), kMessageBoxYes);
  EXPECT_EQ(seenText, "ゲームを修復しますか？");
  EXPECT_EQ(seenCaption, "確認");
  EXPECT_EQ(seenOwner, &owner);
}

TEST_F(MessageBoxTest, AWorkerWaitsForTheAnswerFromThePresenterThread) {
  std::thread::id presenterThread;
  SetMessageBoxPresenter([&](const std::string& text, const std::string&, MessageWindow*) {
    presenterThread = std::this_thread::get_id();
    return text == "yes?" ? 1 : 2;
  });
  std::atomic<int> answers[2] = {0, 0};
  std::atomic<bool> done = false;
  std::thread worker([&] {
    answers[0] = ShowMessageBox("yes?", "", nullptr);
    answers[1] = ShowMessageBox("no?", "", nullptr);
    done = true;
  });
  MessageLoop::RunUntil([&] { return done.load(); }, std::chrono::milliseconds(5));
  worker.join();
  EXPECT_EQ(presenterThread, std::this_thread::get_id());
  EXPECT_EQ(answers[0], kMessageBoxYes);
  EXPECT_EQ(answers[1], kMessageBoxNo);
}

TEST_F(MessageBoxTest, AskingAfterThePresenterThreadEndedAnswersNo) {
  std::thread ui(
      [] { SetMessageBoxPresenter([](const std::string&, const std::string&, MessageWindow*) { return 1; }); });
  ui.join();
  EXPECT_EQ(ShowMessageBox("q", "c", nullptr), kMessageBoxNo);
}
