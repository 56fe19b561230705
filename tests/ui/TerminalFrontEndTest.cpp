#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageWindow.h"
#include "tests/support/TerminalScreen.h"
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
  // Fewer cells on a narrow terminal, never none.
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(50, 18), "[" + std::string(8, '#') + std::string(10, '-') + "]");
  EXPECT_EQ(TerminalFrontEnd::ProgressBar(100, -3), "[#]");
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

// What the window shows along an installation, step by step: texts that
// grow and shrink, the remaining time, a repaired file's long name.
std::vector<MainWindowView> InstallViews() {
  std::vector<MainWindowView> views;
  MainWindowView view = SampleView();
  view.Text(IDC_STATUS) = "バージョン検索中...";
  views.push_back(view);
  view.Text(IDC_STATUS) = "ゲームインストールファイルをダウンロードしています......";
  view.Text(IDC_PERCENT) = "12.50%(1.2MB/9.6MB)";
  view.progressPosition = 12;
  views.push_back(view);
  view.Text(IDC_COUNT_LABEL) = "残り時間";
  view.Text(IDC_COUNT) = "00:00:21";
  view.Text(IDC_SPEED) = "512.0KB/s";
  views.push_back(view);
  view.Text(IDC_PERCENT) = "87.50%(8.4MB/9.6MB)";
  view.progressPosition = 87;
  views.push_back(view);
  view.Text(IDC_STATUS) = "ファイル復元:   game_data/character_models_high_resolution_0001.pak";
  views.push_back(view);
  view.Text(IDC_STATUS) = "更新中...";
  view.Text(IDC_COUNT_LABEL) = view.Text(IDC_COUNT) = view.Text(IDC_SPEED_LABEL) = view.Text(IDC_SPEED) = "";
  views.push_back(view);
  return views;
}

// The lines one block of `view` leaves on a fresh terminal of that size.
std::vector<std::string> OneBlock(const MainWindowView& view, int columns, int rows) {
  testsupport::PseudoTerminal terminal(columns, rows);
  TerminalFrontEnd frontEnd(nullptr, terminal.output(), false, true);
  frontEnd.Show(view);
  return terminal.Settle().Lines();
}

std::vector<std::string> Concatenated(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// What a shell showed before the launcher started.
constexpr const char* kPrompt = "$ ./TovaLauncher.exe";

void WritePrompt(testsupport::PseudoTerminal& terminal) { std::fprintf(terminal.output(), "%s\n", kPrompt); }

TEST(TerminalFrontEnd, OnATerminalTheBlockFitsTheWidth) {
  const MainWindowView view = InstallViews()[2];
  const std::string bar = TerminalFrontEnd::ProgressBar(12);
  const struct {
    int columns;
    std::vector<std::string> lines;
  } cases[] = {
      {80,
       {"現在のVer: 1.0  最新Ver: 1.1", "残り時間 00:00:21  DL速度: 512.0KB/s", bar + " 進捗状況: 12.50%(1.2MB/9.6MB)",
        "ゲームインストールファイルをダウンロードしています......"}},
      {50,
       {"現在のVer: 1.0  最新Ver: 1.1", "残り時間 00:00:21  DL速度: 512.0KB/s", bar, "進捗状況: 12.50%(1.2MB/9.6MB)",
        "ゲームインストールファイルをダウンロードしています", "......"}},
      {20,
       {"現在のVer: 1.0", "最新Ver: 1.1", "残り時間 00:00:21", "DL速度: 512.0KB/s",
        TerminalFrontEnd::ProgressBar(12, 18), "進捗状況: 12.50%(1.2", "MB/9.6MB)", "ゲームインストールフ",
        "ァイルをダウンロード", "しています......"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    testsupport::PseudoTerminal terminal(c.columns, 24);
    TerminalFrontEnd frontEnd(nullptr, terminal.output(), false, true);
    frontEnd.Show(view);
    const testsupport::TerminalScreen& screen = terminal.Settle();
    EXPECT_EQ(screen.Lines(), c.lines);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
  }
}

// However the texts change, a terminal that is redrawn holds one block: the
// last one, nothing of the earlier ones, no line wrapped by the terminal.
TEST(TerminalFrontEnd, RedrawsLeaveOneBlock) {
  const struct {
    int columns;
    int rows;
  } sizes[] = {{80, 24}, {50, 24}, {30, 24}, {50, 6}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.columns) + "x" + std::to_string(size.rows));
    testsupport::PseudoTerminal terminal(size.columns, size.rows);
    WritePrompt(terminal);
    TerminalFrontEnd frontEnd(nullptr, terminal.output(), false, true);
    for (const MainWindowView& view : InstallViews()) {
      SCOPED_TRACE(view.Text(IDC_STATUS));
      frontEnd.Show(view);
      const testsupport::TerminalScreen& screen = terminal.Settle();
      const std::vector<std::string> block = OneBlock(view, size.columns, size.rows);
      EXPECT_LE(block.size(), size_t(size.rows - 1));
      EXPECT_EQ(block.back(), OneBlock(view, size.columns, 24).back());  // the status line is kept
      EXPECT_EQ(screen.Lines(), Concatenated({kPrompt}, block));
      EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    }
  }
}

// A terminal made narrower or wider gets the block laid out for its new
// width at the front-end's next turn, whether it re-wraps its lines or cuts
// them.
TEST(TerminalFrontEnd, AResizedTerminalStillHoldsOneBlock) {
  const std::vector<MainWindowView> views = InstallViews();
  const struct {
    int from;
    int to;
    bool reflows;
  } cases[] = {{80, 50, true}, {80, 50, false}, {50, 80, true}, {50, 80, false}, {80, 24, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to) + (c.reflows ? ", re-wrapping" : ", cutting"));
    testsupport::PseudoTerminal terminal(c.from, 24, c.reflows);
    TerminalFrontEnd frontEnd(nullptr, terminal.output(), false, true);
    for (size_t i = 0; i < 3; ++i) frontEnd.Show(views[i]);
    terminal.Resize(c.to);
    frontEnd.Pump();
    EXPECT_EQ(terminal.Settle().Lines(), OneBlock(views[2], c.to, 24));
    frontEnd.Show(views[4]);
    const testsupport::TerminalScreen& screen = terminal.Settle();
    EXPECT_EQ(screen.Lines(), OneBlock(views[4], c.to, 24));
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
  }
}

// After a self-update the launcher replaces its process image, and the new
// one draws its block where the old one was.
TEST(TerminalFrontEnd, ARelaunchLeavesOneBlock) {
  const std::vector<MainWindowView> views = InstallViews();
  testsupport::PseudoTerminal terminal(50, 24);
  WritePrompt(terminal);
  {
    TerminalFrontEnd first(nullptr, terminal.output(), false, true);
    for (const MainWindowView& view : views) first.Show(view);
    first.ClearForRelaunch();
    first.Close();
  }
  EXPECT_EQ(terminal.Settle().Lines(), std::vector<std::string>{kPrompt});
  TerminalFrontEnd second(nullptr, terminal.output(), false, true);
  second.Show(views[0]);
  second.Show(views[1]);
  const testsupport::TerminalScreen& screen = terminal.Settle();
  EXPECT_EQ(screen.Lines(), Concatenated({kPrompt}, OneBlock(views[1], 50, 24)));
  EXPECT_EQ(screen.problems(), std::vector<std::string>{});
}

// A question is asked below the block; the next block starts below it, and
// the question's block stays as it was when it was asked.
TEST(TerminalFrontEnd, AfterAQuestionTheNextBlockStartsBelowIt) {
  const std::vector<MainWindowView> views = InstallViews();
  testsupport::PseudoTerminal terminal(50, 40);
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input("y\n"), terminal.output(), false, true);
  frontEnd.Show(views[1]);
  EXPECT_EQ(frontEnd.Ask("続けますか?", "メッセージ"), 1);
  frontEnd.Show(views[2]);
  frontEnd.Show(views[3]);
  std::vector<std::string> expected = OneBlock(views[1], 50, 40);
  expected = Concatenated(expected, {"【メッセージ】続けますか?", "はい(y) / いいえ(n): y"});
  expected = Concatenated(expected, OneBlock(views[3], 50, 40));
  EXPECT_EQ(terminal.Settle().Lines(), expected);
}

// Written to a pipe or a file, the lines carry no cursor movement and no
// escape, not even from a name in a file list.
TEST(TerminalFrontEnd, PlainLinesCarryNoEscapes) {
  TerminalIo io;
  TerminalFrontEnd frontEnd(io.Input(""), io.Output(), false, false);
  MainWindowView view = InstallViews()[2];
  view.Text(IDC_STATUS) =
      "ファイル復元:   bad\x1b[2J\x7fname\xc2\x9b"
      "1A.dat";
  frontEnd.Show(view);
  EXPECT_EQ(io.Written(),
            "ファイル復元:   bad?[2J?name?1A.dat | 現在のVer: 1.0 | 最新Ver: 1.1 | 残り時間 00:00:21 | DL速度: "
            "512.0KB/s | " +
                TerminalFrontEnd::ProgressBar(12) + " 進捗状況: 12.50%(1.2MB/9.6MB)\n");
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
