#include <gtest/gtest.h>

#include <cmath>
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
