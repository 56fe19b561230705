#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "ui/MainWindowDisplay.h"
#include "util/TextUtil.h"

namespace {

WParam TextArg(const std::string& text) { return reinterpret_cast<WParam>(text.c_str()); }
LParam TextLArg(const std::string& text) { return reinterpret_cast<LParam>(text.c_str()); }

class MainWindowDisplayTest : public testing::Test {
 protected:
  std::optional<double> Apply(MessageId id, WParam wParam = 0, LParam lParam = 0) {
    return display.Apply({id, wParam, lParam});
  }
  const std::string& Text(int id) const { return display.view().Text(id); }
  int Position() const { return display.view().progressPosition; }

  MainWindowDisplay display;
};

TEST_F(MainWindowDisplayTest, SetProgressTruncatesAndClampsToTheRange) {
  const struct {
    double p;
    int position;
  } cases[] = {{-5, 1},
               {0, 1},
               {0.99, 1},
               {1, 1},
               {1.99, 1},
               {55.9, 55},
               {99.99, 99},
               {100, 100},
               {250, 100},
               {1e300, 100},
               {std::numeric_limits<double>::quiet_NaN(), 1},
               {-std::numeric_limits<double>::infinity(), 1}};
  for (const auto& c : cases) {
    display.SetProgress(c.p);
    EXPECT_EQ(Position(), c.position) << c.p;
  }
}

TEST_F(MainWindowDisplayTest, VersionsWithTheirLabelsAndUnknownForAnEmptyCurrentVersion) {
  const std::string latest = "1.0.5";
  const std::string current = "";
  Apply(UM_SELFPATCH_START);
  EXPECT_EQ(Text(IDC_STATUS), "バージョン検索中...");
  Apply(UM_LATEST_VERSION, TextArg(latest));
  Apply(UM_CURRENT_VERSION, TextArg(current));
  EXPECT_EQ(Text(IDC_LATEST_VERSION_LABEL), "最新Ver: ");
  EXPECT_EQ(Text(IDC_LATEST_VERSION), "1.0.5");
  EXPECT_EQ(Text(IDC_CURRENT_VERSION_LABEL), "現在のVer: ");
  EXPECT_EQ(Text(IDC_CURRENT_VERSION), "不明");
  // A null text argument reads as empty.
  Apply(UM_CURRENT_VERSION, 0);
  EXPECT_EQ(Text(IDC_CURRENT_VERSION), "不明");
  const std::string known = "1.0.4";
  Apply(UM_CURRENT_VERSION, TextArg(known));
  EXPECT_EQ(Text(IDC_CURRENT_VERSION), "1.0.4");
}

TEST_F(MainWindowDisplayTest, RepairFileStepsGiveQuarterSteps) {
  const struct {
    int count;
    int step;
    int index;
    const char* percent;
    int position;
  } cases[] = {
      {10, 1, 1, "2.50%", 2},      {10, 4, 1, "10.00%", 10}, {10, 2, 5, "45.00%", 45},
      {10, 4, 10, "100.00%", 100}, {3, 1, 2, "41.67%", 41},  {0, 4, 1, "0.00%", 1},
  };
  for (const auto& c : cases) {
    Apply(UM_REPAIR_FILE_TOTAL, static_cast<WParam>(c.count));
    const std::optional<double> p = Apply(UM_REPAIR_FILE_STEP, static_cast<WParam>(c.step), c.index);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(Text(IDC_PERCENT), c.percent) << c.count << " " << c.step << " " << c.index;
    EXPECT_EQ(Text(IDC_PROGRESS_LABEL), "進捗状況: ");
    EXPECT_EQ(Text(IDC_COUNT_LABEL), "ファイル: ");
    EXPECT_EQ(Text(IDC_COUNT), std::to_string(c.index) + "/" + std::to_string(c.count));
    EXPECT_EQ(Position(), c.position);
  }
}

TEST_F(MainWindowDisplayTest, RepairFileNameShowsItsLastComponent) {
  const struct {
    const char* name;
    const char* status;
  } cases[] = {
      {"a\\b\\c.dat", "ファイル復元:   c.dat"},
      {"plain.dat", "ファイル復元:   plain.dat"},
      {"data\\", "ファイル復元:   "},
      {"a/b.dat", "ファイル復元:   a/b.dat"},
  };
  for (const auto& c : cases) {
    const std::string name = c.name;
    Apply(UM_REPAIR_FILE_NAME, TextArg(name));
    EXPECT_EQ(Text(IDC_STATUS), c.status);
  }
}

TEST_F(MainWindowDisplayTest, StatusLines) {
  const struct {
    MessageId id;
    const char* status;
  } cases[] = {
      {UM_UPDATE_UNPACK_BEGIN, "アップデートファイル展開..."},
      {UM_UPDATE_ANALYSE_BEGIN, "アップデートファイル解析中..."},
      {UM_UPDATE_COPY_BEGIN, "更新中！終了しないでください。"},
      {UM_UPDATE_CLEANUP_BEGIN, "キャッシュクリア中..."},
      {UM_PAGES_BEGIN, "ゲームインストールファイルを解凍しています......"},
      {UM_PAGES_UNPACK_BEGIN, "ゲームインストールファイルを解凍しています......"},
      {UM_GAMEPATCH_START, "アップデート検索中..."},
      {UM_GAMEPATCH_UPDATING, "更新中..."},
      {UM_GAMEPATCH_DOWNLOAD_BEGIN, "アップデートをダウンロード中..."},
      {UM_GAMEPATCH_FAIL_CHECK_GAMEINFO, "アップデートに失敗しました。 "},
      {UM_GAMEPATCH_NONEED, "アップデート完了しました。"},
      {UM_GAMEPATCH_DONE, "アップデート完了しました。"},
      {UM_INSTALL_START, "ゲームイニシエータを実行中..... "},
  };
  for (const auto& c : cases) {
    display.SetText(IDC_STATUS, "before");
    Apply(c.id);
    EXPECT_EQ(Text(IDC_STATUS), c.status) << std::hex << c.id;
  }
  // Messages without a display reaction leave the texts alone.
  for (MessageId id : {UM_UPDATE_FILE_NAME, UM_UPDATE_FILES_DONE, UM_PAGE_NAME, UM_REPAIR_LAUNCHED, UM_INSTALL_DONE,
                       UM_GAMEPATCH_FAIL_GAME_RUNNING, UM_REPAIR_COMPARE_PERCENT, MessageId{0x1234}}) {
    const MainWindowView before = display.view();
    EXPECT_FALSE(Apply(id).has_value());
    EXPECT_EQ(display.view(), before) << std::hex << id;
  }
}

TEST_F(MainWindowDisplayTest, ApplierItemsCountAndZeroTotalKeepsTheBarAtItsMinimum) {
  Apply(UM_DOWNLOAD_SPEED, 2048, TextLArg("2.0K"));
  Apply(UM_UPDATE_FILES_BEGIN);
  EXPECT_EQ(Text(IDC_STATUS), "アップデート開始...");
  EXPECT_EQ(Text(IDC_PERCENT), "0%");
  for (int id : {IDC_SPEED_LABEL, IDC_SPEED, IDC_COUNT_LABEL, IDC_COUNT}) EXPECT_EQ(Text(id), "") << id;

  int32_t total = 4;
  EXPECT_EQ(Apply(UM_UPDATE_FILE_TOTAL, 0, reinterpret_cast<LParam>(&total)), 0.0);
  EXPECT_EQ(Text(IDC_COUNT_LABEL), "ファイル数: ");
  EXPECT_EQ(Text(IDC_COUNT), "1/4");
  EXPECT_EQ(Text(IDC_PERCENT), "0.00%");
  EXPECT_EQ(Apply(UM_UPDATE_FILE_INDEX, 0, 3), 75.0);
  EXPECT_EQ(Text(IDC_COUNT), "3/4");
  EXPECT_EQ(Text(IDC_PERCENT), "75.00%");
  EXPECT_EQ(Position(), 75);

  total = 0;
  Apply(UM_UPDATE_FILE_TOTAL, 0, reinterpret_cast<LParam>(&total));
  EXPECT_EQ(Apply(UM_UPDATE_FILE_INDEX, 0, 1), 0.0);
  EXPECT_EQ(Text(IDC_PERCENT), "0.00%");
  EXPECT_EQ(Text(IDC_COUNT), "1/0");
  EXPECT_EQ(Position(), 1);
  // A null integer address reads as 0.
  Apply(UM_UPDATE_FILE_TOTAL, 0, 0);
  EXPECT_EQ(Text(IDC_COUNT), "1/0");
}

TEST_F(MainWindowDisplayTest, PatchDownloadsAndPageUnpacking) {
  Apply(UM_GAMEPATCH_TOTAL_SIZE, 0, TextLArg("200.000000"));
  EXPECT_EQ(Text(IDC_PERCENT), "0.00%");
  Apply(UM_GAMEPATCH_COUNT, 0, 3);
  EXPECT_EQ(Text(IDC_COUNT_LABEL), "ダウンロード: ");
  EXPECT_EQ(Text(IDC_COUNT), "1/3");
  EXPECT_EQ(Apply(UM_GAMEPATCH_DONE_SIZE, 0, TextLArg("50.000000")), 25.0);
  Apply(UM_GAMEPATCH_INDEX, 0, 2);
  EXPECT_EQ(Text(IDC_PERCENT), "25.00%");
  EXPECT_EQ(Text(IDC_COUNT), "2/3");
  EXPECT_EQ(Position(), 25);
  // An unreadable size text reads as 0.
  EXPECT_EQ(Apply(UM_GAMEPATCH_DONE_SIZE, 0, TextLArg("garbage")), 0.0);

  int32_t pages = 5;
  Apply(UM_PAGE_TOTAL, 0, reinterpret_cast<LParam>(&pages));
  EXPECT_EQ(Text(IDC_COUNT_LABEL), "展開中:  ");
  EXPECT_EQ(Text(IDC_COUNT), "1/5");
  Apply(UM_PAGE_INDEX, 0, 3);
  EXPECT_EQ(Text(IDC_COUNT), "3/5");
}

TEST_F(MainWindowDisplayTest, InstallSizesSpeedAndRemainingTime) {
  Apply(UM_INSTALL_TOTAL_SIZE, 0, TextLArg("3145728.000000"));
  EXPECT_EQ(Text(IDC_STATUS), "ゲームインストールファイルをダウンロードしています......");
  EXPECT_EQ(Text(IDC_PERCENT), "0.00%(0B/3.0MB)");
  Apply(UM_INSTALL_PAGE_COUNT, 0, 3);
  EXPECT_EQ(Text(IDC_COUNT), "1/3");

  // Without a speed no remaining time is known: the counter is emptied.
  EXPECT_DOUBLE_EQ(Apply(UM_INSTALL_DONE_SIZE, 0, TextLArg("1048576.000000")).value_or(-1), 100.0 / 3);
  EXPECT_EQ(Text(IDC_PERCENT), "33.33%(1.0MB/3.0MB)");
  EXPECT_EQ(Text(IDC_COUNT_LABEL), "残り時間");
  EXPECT_EQ(Text(IDC_COUNT), "");
  EXPECT_EQ(Position(), 33);

  Apply(UM_DOWNLOAD_SPEED, 1024, TextLArg("1.0K"));
  EXPECT_EQ(Text(IDC_SPEED_LABEL), "DL速度: ");
  EXPECT_EQ(Text(IDC_SPEED), "1.0KB/s");
  display.SetText(IDC_COUNT, "kept");
  Apply(UM_INSTALL_DONE_SIZE, 0, TextLArg("2097152.000000"));
  EXPECT_EQ(Text(IDC_COUNT), "kept");
}

TEST_F(MainWindowDisplayTest, TimerStartsOnceInTheWindowsLife) {
  EXPECT_FALSE(display.timerRunning());
  Apply(UM_INSTALL_TIMER_START);
  EXPECT_TRUE(display.timerRunning());
  Apply(UM_INSTALL_TIMER_START);
  EXPECT_TRUE(display.timerRunning());
  Apply(UM_PAGES_BEGIN);
  EXPECT_FALSE(display.timerRunning());
  Apply(UM_INSTALL_TIMER_START);
  EXPECT_FALSE(display.timerRunning());
}

TEST_F(MainWindowDisplayTest, InstallFailuresAboutDownloadsStopTheTimer) {
  const struct {
    MessageId id;
    bool stops;
  } cases[] = {
      {UM_INSTALL_FAIL_DOWN_PAGE, true},     {UM_INSTALL_FAIL_CREATE_DIR, true},
      {UM_INSTALL_FAIL_DOWN_INI, true},      {UM_INSTALL_FAIL_FILE_SIZE, true},
      {UM_INSTALL_FAIL_ANALYSE, true},       {UM_INSTALL_FAIL_USER_CANCEL, false},
      {UM_INSTALL_FAIL_DOWN_VERSION, false}, {UM_INSTALL_FAIL_READ_VERSION, false},
      {UM_INSTALL_FAIL_UNZIP_PAGE, false},
  };
  for (const auto& c : cases) {
    MainWindowDisplay fresh;
    fresh.Apply({UM_INSTALL_TIMER_START, 0, 0});
    fresh.Apply({c.id, 0, 0});
    EXPECT_EQ(fresh.timerRunning(), !c.stops) << std::hex << c.id;
  }
}

TEST_F(MainWindowDisplayTest, TimerTickShowsRemainingTimeAndOverallProgress) {
  // One day, one hour, one minute and one second left at 1 byte per second.
  Apply(UM_INSTALL_TOTAL_SIZE, 0, TextLArg("90161.000000"));
  Apply(UM_INSTALL_TIMER_START);
  Apply(UM_DOWNLOAD_BYTES, 100, 90161);

  // Without a speed the tick changes nothing shown.
  MainWindowView before = display.view();
  display.OnTimer();
  EXPECT_EQ(display.view(), before);

  Apply(UM_DOWNLOAD_SPEED, 1, TextLArg("1"));
  display.OnTimer();
  EXPECT_EQ(Text(IDC_COUNT_LABEL), "残り時間");
  EXPECT_EQ(Text(IDC_COUNT), "01:01:01");
  EXPECT_EQ(Text(IDC_PERCENT), "0.11%(100B/" + FormatByteSize(90161) + "B)");

  // Nothing left: no change.
  Apply(UM_DOWNLOAD_BYTES, 90161, 90161);
  before = display.view();
  display.OnTimer();
  EXPECT_EQ(display.view(), before);

  // A stopped timer does not tick.
  Apply(UM_DOWNLOAD_BYTES, 0, 90161);
  Apply(UM_PAGES_BEGIN);
  before = display.view();
  display.OnTimer();
  EXPECT_EQ(display.view(), before);
}

// While a package of a patch or a repaired file downloads, its bytes move the
// percentage and the bar together; other downloads (lists, descriptions)
// move neither.
TEST_F(MainWindowDisplayTest, TheBytesOfADownloadMoveThePercentageAndTheBarTogether) {
  // The list before the patch's sizes: nothing to show yet.
  EXPECT_FALSE(Apply(UM_DOWNLOAD_BYTES, 30, 100).has_value());
  EXPECT_EQ(Text(IDC_PERCENT), "");

  const struct {
    MessageId id;
    WParam wParam;
    LParam lParam;
    const char* size;  // the size text of lParam, when there is one
    const char* percent;
    int position;
  } steps[] = {
      {UM_GAMEPATCH_TOTAL_SIZE, 0, 0, "200.000000", "0.00%", 1},
      {UM_DOWNLOAD_BYTES, 30, 100, nullptr, "15.00%", 15},
      {UM_DOWNLOAD_BYTES, 100, 100, nullptr, "50.00%", 50},
      {UM_GAMEPATCH_DONE_SIZE, 0, 0, "100.000000", "50.00%", 50},
      // The second package, 100 bytes, resumed at 60.
      {UM_DOWNLOAD_BYTES, 60, 100, nullptr, "80.00%", 80},
      {UM_GAMEPATCH_DONE_SIZE, 0, 0, "200.000000", "100.00%", 100},
      // The applier's start ends the patch's downloads.
      {UM_UPDATE_FILES_BEGIN, 0, 0, nullptr, "0%", 100},
      {UM_DOWNLOAD_BYTES, 10, 100, nullptr, "0%", 100},
      // A repair of 6 files: the third one's download fills the quarter
      // between its downloading and finished steps.
      {UM_REPAIR_START, 0, 0, nullptr, "", 100},
      {UM_REPAIR_FILE_TOTAL, 6, 0, nullptr, "", 100},
      {UM_REPAIR_FILE_STEP, 2, 3, nullptr, "41.67%", 41},
      {UM_DOWNLOAD_BYTES, 6000000, 12000000, nullptr, "43.75%", 43},
      {UM_DOWNLOAD_BYTES, 12000000, 12000000, nullptr, "45.83%", 45},
      {UM_REPAIR_FILE_STEP, 3, 3, nullptr, "45.83%", 45},
      {UM_DOWNLOAD_BYTES, 100, 200, nullptr, "45.83%", 45},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.percent);
    const std::string size = step.size == nullptr ? "" : step.size;
    Apply(step.id, step.wParam, step.size == nullptr ? step.lParam : TextLArg(size));
    EXPECT_EQ(Text(IDC_PERCENT), step.percent);
    EXPECT_EQ(Position(), step.position);
  }
}

// A retry of a download: the status line says that the launcher waits for
// the server, with the attempt, and the speed that nothing arrives. The first
// bytes bring the status line back, unless something else replaced the
// waiting text meanwhile.
TEST_F(MainWindowDisplayTest, ARetrySaysThatTheLauncherWaitsForTheServer) {
  Apply(UM_GAMEPATCH_DOWNLOAD_BEGIN);
  Apply(UM_DOWNLOAD_SPEED, 1536, TextLArg("1.5K"));
  Apply(UM_DOWNLOAD_RETRY, 2, 6);
  EXPECT_EQ(Text(IDC_STATUS), "サーバーの応答を待っています（再試行 2/6）");
  EXPECT_EQ(Text(IDC_SPEED_LABEL), "DL速度: ");
  EXPECT_EQ(Text(IDC_SPEED), "0B/s");
  Apply(UM_DOWNLOAD_RETRY, 3, 6);
  EXPECT_EQ(Text(IDC_STATUS), "サーバーの応答を待っています（再試行 3/6）");
  Apply(UM_DOWNLOAD_BYTES, 10, 100);
  EXPECT_EQ(Text(IDC_STATUS), "アップデートをダウンロード中...");
  Apply(UM_DOWNLOAD_BYTES, 20, 100);
  EXPECT_EQ(Text(IDC_STATUS), "アップデートをダウンロード中...");

  Apply(UM_DOWNLOAD_RETRY, 6, 6);
  Apply(UM_GAMEPATCH_UPDATING);
  Apply(UM_DOWNLOAD_BYTES, 10, 100);
  EXPECT_EQ(Text(IDC_STATUS), "更新中...");

  // No speed while waiting: the remaining-time timer shows nothing new.
  Apply(UM_INSTALL_TOTAL_SIZE, 0, TextLArg("1000.000000"));
  Apply(UM_INSTALL_TIMER_START);
  Apply(UM_DOWNLOAD_RETRY, 2, 6);
  const MainWindowView before = display.view();
  display.OnTimer();
  EXPECT_EQ(display.view(), before);
}

// The remaining time shown at each tick: at a steady speed it counts down a
// second a tick; a speed that changes moves it only a part of the way, so a
// meter that jumps between two figures does not make it jump with them. The
// bar follows the percentage text of every tick.
TEST_F(MainWindowDisplayTest, TheRemainingTimeCountsDownSteadilyAndTheBarFollowsTheText) {
  Apply(UM_INSTALL_TOTAL_SIZE, 0, TextLArg("1000000.000000"));
  Apply(UM_INSTALL_TIMER_START);
  const auto seconds = [this] {
    const std::string& text = Text(IDC_COUNT);
    return std::stoi(text.substr(0, 2)) * 3600 + std::stoi(text.substr(3, 2)) * 60 + std::stoi(text.substr(6, 2));
  };
  const auto tick = [this](WParam done, int speed) {
    const std::string text = FormatByteSize(speed);
    Apply(UM_DOWNLOAD_SPEED, static_cast<WParam>(speed), TextLArg(text));
    Apply(UM_DOWNLOAD_BYTES, done, 1000000);
    display.OnTimer();
  };

  WParam done = 100000;
  tick(done, 1000);
  EXPECT_EQ(Text(IDC_COUNT), "00:15:00");
  EXPECT_EQ(Text(IDC_PERCENT), "10.00%(" + FormatByteSize(100000) + "B/" + FormatByteSize(1000000) + "B)");
  EXPECT_EQ(Position(), 10);
  for (const char* shown : {"00:14:59", "00:14:58", "00:14:57"}) {
    tick(done += 1000, 1000);
    EXPECT_EQ(Text(IDC_COUNT), shown);
  }

  // A meter alternating between a quarter and four times the speed: the
  // estimate swings by about an hour at every tick, the time shown by far less.
  int previous = seconds();
  for (int i = 0; i < 8; ++i) {
    tick(done += 1000, i % 2 == 0 ? 250 : 4000);
    const int now = seconds();
    EXPECT_LT(std::abs(now - previous), 700) << Text(IDC_COUNT);
    previous = now;
  }
  EXPECT_EQ(Text(IDC_PERCENT), "11.10%(" + FormatByteSize(111000) + "B/" + FormatByteSize(1000000) + "B)");
  EXPECT_EQ(Position(), 11);
}

TEST_F(MainWindowDisplayTest, ResetProgressTextsEmptiesEveryText) {
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) display.SetText(id, "x");
  display.ResetProgressTexts();
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) EXPECT_EQ(Text(id), "") << id;
  // The repair file count is zeroed too.
  Apply(UM_REPAIR_FILE_TOTAL, 4);
  display.ResetProgressTexts();
  Apply(UM_REPAIR_FILE_STEP, 4, 1);
  EXPECT_EQ(Text(IDC_PERCENT), "0.00%");
}

}  // namespace
