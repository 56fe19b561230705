#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "platform/MessageWindow.h"
#include "ui/TerminalFrontEnd.h"

namespace {

// Output collected in memory, input from a temporary file.
class TerminalIo {
 public:
  TerminalIo() = default;
  TerminalIo(const TerminalIo&) = delete;
  TerminalIo& operator=(const TerminalIo&) = delete;
  ~TerminalIo() {
    if (in_ != nullptr) std::fclose(in_);
    if (out_ != nullptr) std::fclose(out_);
    std::free(buffer_);
  }
  std::FILE* Input(const std::string& text) {
    in_ = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in_);
    std::rewind(in_);
    return in_;
  }
  std::FILE* Output() {
    out_ = open_memstream(&buffer_, &size_);
    return out_;
  }
  std::string Written() {
    std::fflush(out_);
    return std::string(buffer_, size_);
  }

 private:
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

MainWindowView SampleView() {
  MainWindowView view;
  view.Text(IDC_STATUS) = "更新中...";
  view.Text(IDC_CURRENT_VERSION_LABEL) = "現在のVer: ";
  view.Text(IDC_CURRENT_VERSION) = "1.0";
  view.Text(IDC_LATEST_VERSION_LABEL) = "最新Ver: ";
  view.Text(IDC_LATEST_VERSION) = "1.1";
  view.Text(IDC_COUNT_LABEL) = "ダウンロード: ";
  view.Text(IDC_COUNT) = "2/3";
  view.Text(IDC_SPEED_LABEL) = "DL速度: ";
  view.Text(IDC_SPEED) = "1.5KB/s";
  view.Text(IDC_PROGRESS_LABEL) = "進捗状況: ";
  view.Text(IDC_PERCENT) = "50.00%";
  view.progressPosition = 50;
  return view;
}

TEST(TerminalProgressBar, FillsThirtyCellsOverTheRange) {
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(1), "[" + std::string(30, '-') + "]");
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(50), "[" + std::string(14, '#') + std::string(16, '-') + "]");
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(100), "[" + std::string(30, '#') + "]");
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(250), "[" + std::string(30, '#') + "]");
}

TEST(TerminalFrontEnd, PlainLinesOnlyWhenWhatIsShownChanges) {
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input(""), io.Output(), false, false);
  MainWindowView view = SampleView();
  frontEnd.Show(view);
  frontEnd.Show(view);
  view.Text(IDC_STATUS) = "";
  view.Text(IDC_SPEED_LABEL) = view.Text(IDC_SPEED) = "";
  frontEnd.Show(view);
  EXPECT_EQ(io.Written(), "更新中... | 現在のVer: 1.0 | 最新Ver: 1.1 | ダウンロード: 2/3 | DL速度: 1.5KB/s | " +
                              TerminalFrontEnd::ProgressBar(50) +
                              " 進捗状況: 50.00%\n"
                              "現在のVer: 1.0 | 最新Ver: 1.1 | ダウンロード: 2/3 | " +
                              TerminalFrontEnd::ProgressBar(50) + " 進捗状況: 50.00%\n");
}

TEST(TerminalFrontEnd, OnATerminalTheBlockIsRedrawnInPlace) {
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input(""), io.Output(), true, true);
  frontEnd.Show(SampleView());
  const std::string first = io.Written();
  EXPECT_EQ(first,
            "\x1b[2K現在のVer: 1.0  最新Ver: 1.1\n"
            "\x1b[2Kダウンロード: 2/3  DL速度: 1.5KB/s\n"
            "\x1b[2K" +
                TerminalFrontEnd::ProgressBar(50) +
                " 進捗状況: 50.00%\n"
                "\x1b[2K更新中...\n");
  frontEnd.Show(SampleView());
  EXPECT_EQ(io.Written().substr(first.size(), 4), "\x1b[4F");
  // After a question the next block starts below it.
  frontEnd.Ask("q", "c");
  const size_t before = io.Written().size();
  frontEnd.Show(SampleView());
  EXPECT_EQ(io.Written().substr(before, 4), "\x1b[2K");
}

TEST(TerminalFrontEnd, AnswersFromInputLines) {
  const std::string question = "【メッセージ】質問\nはい(y) / いいえ(n): ";
  const std::string again = "\nはい(y) / いいえ(n): ";
  const struct {
    const char* input;
    int answer;
    int asked;  // how often the answer was asked for
  } cases[] = {
      {"y\n", 1, 1},
      {"yes\n", 1, 1},
      {"1\n", 1, 1},
      {" YES \r\n", 1, 1},
      {"Y", 1, 1},
      {"はい\n", 1, 1},
      {"n\n", 2, 1},
      {"no\n", 2, 1},
      {"0\n", 2, 1},
      {"いいえ\n", 2, 1},
      {"", 2, 1},
      {"\n", 2, 2},
      {"yess\n", 2, 2},
      {"2\n", 2, 2},
      {"y es\n", 2, 2},
      {"\nmaybe\ny\n", 1, 3},
      {"はいはい\nいいえ\n", 2, 2},
  };
  for (const auto& c : cases) {
    TerminalIo io;
    TerminalFrontEnd frontEnd(io.Input(c.input), io.Output(), false, false);
    EXPECT_EQ(frontEnd.Ask("質問", "メッセージ"), c.answer) << c.input;
    std::string expected = question;
    for (int i = 1; i < c.asked; ++i) expected += again;
    EXPECT_EQ(io.Written(), expected + (c.answer == 1 ? "y\n" : "n\n")) << c.input;
  }
}

TEST(TerminalFrontEnd, QuestionsTakeOneLineEachAndShowLineBreaksPlainly) {
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input("y\nn\n"), io.Output(), true, false);
  EXPECT_EQ(frontEnd.Ask("ゲームを起動中!\r\n終了しますか?", "メッセージ"), 1);
  EXPECT_EQ(frontEnd.Ask("second", "メッセージ"), 2);
  EXPECT_EQ(frontEnd.Ask("third", "メッセージ"), 2);  // end of input
  // Typed answers are not repeated.
  EXPECT_EQ(
      io.Written().find("【メッセージ】ゲームを起動中!\n終了しますか?\nはい(y) / いいえ(n): 【メッセージ】second"), 0u);
}

TEST(TerminalFrontEnd, ClosingTakesALineOrTheEndOfInput) {
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input("\ny\n"), io.Output(), false, false);
  frontEnd.WaitForClose("FILE=a.cpp,LINE=1 ,DownloadFile");
  EXPECT_EQ(frontEnd.Ask("after", "c"), 1);  // the close took exactly one line
  frontEnd.WaitForClose("");                 // end of input
  const std::string written = io.Written();
  EXPECT_EQ(written.find("原因: FILE=a.cpp,LINE=1 ,DownloadFile\nEnterキーを押すと閉じます。\n"), 0u) << written;
  // Without a reason, the prompt alone.
  EXPECT_NE(written.find("】after\nはい(y) / いいえ(n): y\nEnterキーを押すと閉じます。\n"), std::string::npos)
      << written;
}

// The window has ended (a stop) while the user is asked: the question and
// the close return at once, the question as refused.
TEST(TerminalFrontEnd, EndedQuestionsReturnAtOnce) {
  int input[2];
  ASSERT_EQ(pipe(input), 0);  // nothing is ever typed
  std::FILE* in = fdopen(input[0], "r");
  ASSERT_NE(in, nullptr);
  TerminalIo io;
  TerminalFrontEnd frontEnd(in, io.Output(), true, false);
  MessageWindow window([&](const Message&) { frontEnd.EndQuestions(); });
  PostMessageTo(&window, 1);
  EXPECT_EQ(frontEnd.Ask("更新を中止しますか？", "メッセージ"), 2);
  frontEnd.WaitForClose("");
  std::fclose(in);
  close(input[1]);
}

// Input from a pipe that stays empty until a message sent from another
// thread has been delivered on this one; the handler then types the line.
// Without delivery, a watchdog types "n" after a while, so a front-end that
// does not deliver fails instead of hanging.
class AnswerAfterMessage {
 public:
  explicit AnswerAfterMessage(std::string line) : line_(std::move(line)) {
    EXPECT_EQ(pipe(fds_), 0);
    in_ = fdopen(fds_[0], "r");
    sender_ = std::thread([this] { SendMessageTo(&window_, 0x7001); });
    watchdog_ = std::thread([this] {
      for (int i = 0; i < 200 && !delivered_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (!delivered_) Type("n\n");
    });
  }
  ~AnswerAfterMessage() {
    // A front-end that did not deliver leaves the sender waiting.
    MessageLoop::RunUntil([this] { return delivered_.load(); }, std::chrono::milliseconds(10));
    sender_.join();
    watchdog_.join();
    std::fclose(in_);
    close(fds_[1]);
  }

  std::FILE* in() const { return in_; }
  bool deliveredOnThisThread() const { return deliveredHere_; }

 private:
  void Type(const std::string& text) { EXPECT_EQ(write(fds_[1], text.data(), text.size()), ssize_t(text.size())); }

  const std::string line_;
  int fds_[2] = {-1, -1};
  std::FILE* in_ = nullptr;
  std::atomic<bool> delivered_ = false;
  bool deliveredHere_ = false;
  const std::thread::id owner_ = std::this_thread::get_id();
  MessageWindow window_{[this](const Message&) {
    deliveredHere_ = std::this_thread::get_id() == owner_;
    Type(line_);
    delivered_ = true;
  }};
  std::thread sender_;
  std::thread watchdog_;
};

// A question and the wait for the close keep delivering the messages sent to
// the thread's windows while they wait for their line.
TEST(TerminalFrontEnd, MessagesAreDeliveredWhileALineIsAwaited) {
  {
    AnswerAfterMessage input("y\n");
    TerminalIo io;
    TerminalFrontEnd frontEnd(input.in(), io.Output(), false, false);
    EXPECT_EQ(frontEnd.Ask("質問", "メッセージ"), 1);
    EXPECT_TRUE(input.deliveredOnThisThread());
  }
  {
    AnswerAfterMessage input("\n");
    TerminalIo io;
    TerminalFrontEnd frontEnd(input.in(), io.Output(), false, false);
    frontEnd.WaitForClose("");
    EXPECT_TRUE(input.deliveredOnThisThread());
  }
}

}  // namespace
