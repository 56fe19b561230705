#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TerminalScreen.h"
#include "ui/StatusTexts.h"
#include "ui/TerminalColumns.h"

namespace {

TEST(TerminalColumns, WideCharactersTakeTwoColumns) {
  const struct {
    const char* text;
    int columns;
  } cases[] = {
      {"", 0},
      {"DL: 1.5KB/s", 11},
      {"残り時間", 8},
      {"現在のVer: ", 11},
      {"更新中！", 8},  // fullwidth exclamation mark
      {"ｱｯﾌﾟ", 4},      // halfwidth katakana
      {"한글", 4},      // Hangul
      {"\xe3\x81", 1},  // a cut sequence: one replacement character, as a terminal shows it
      {"a\xff"
       "b",
       3},  // a byte that begins nothing
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalColumns(c.text), c.columns) << c.text;
}

// Every character the launcher writes on a terminal takes the columns the C
// library gives it.
TEST(TerminalColumns, AgreeWithTheCLibraryOnTheLaunchersTexts) {
  const char* texts[] = {
      kStatusUpdateBegin,
      kStatusUpdateUnpack,
      kStatusUpdateAnalyse,
      kStatusUpdateCopy,
      kStatusUpdateCleanup,
      kStatusPagesUnpacking,
      kStatusSearchingVersion,
      kStatusSearchingUpdate,
      kStatusUpdating,
      kStatusDownloadingUpdate,
      kStatusUpdateFailed,
      kStatusUpdateDone,
      kStatusInstallStarting,
      kStatusInstallDownloading,
      kStatusRepairing,
      kStatusSelfUpdateFailed,
      kStatusInstallFailed,
      kStatusRepairFailed,
      kStatusStartFailed,
      kStatusRepairFile,
      // The labels, the unknown version, the questions' words.
      "現在のVer: 最新Ver: ファイル数: 展開中: ダウンロード: 残り時間DL速度: 進捗状況: ファイル: 不明",
      "【メッセージ】はい(y) / いいえ(n): Enterキーを押すと閉じます。ゲームを起動中!終了しますか?",
  };
  for (const char* text : texts) {
    for (const std::string& character : WrapToColumns(text, 1)) {
      EXPECT_EQ(TerminalColumns(character), testsupport::TerminalWidthOf(character)) << character << " in " << text;
    }
  }
}

TEST(TerminalColumns, WrappingNeverSplitsACharacter) {
  const struct {
    const char* text;
    int columns;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", 5, {}},
      {"abcdef", 3, {"abc", "def"}},
      {"アイウ", 5, {"アイ", "ウ"}},  // the third would straddle the edge
      {"アイウ", 6, {"アイウ"}},
      {"aアb", 2, {"a", "ア", "b"}},
      {"ア", 1, {"ア"}},  // wider than the piece: alone
      {"\xe3\x81\xe3\x81\x82", 2, {"\xe3\x81", "\xe3\x81\x82"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapToColumns(c.text, c.columns), c.pieces) << c.text << " " << c.columns;
}

TEST(TerminalColumns, ControlCharactersBecomeQuestionMarks) {
  EXPECT_EQ(PrintableText("a\x1b[2Jb\tc\x7f\xc2\x9b"
                          "d\n"),
            "a?[2Jb?c??d?");
  EXPECT_EQ(PrintableText("ファイル復元:   データ.pak"), "ファイル復元:   データ.pak");
  EXPECT_EQ(PrintableText("\xff\xc2"), "\xff\xc2");  // not controls: left for the terminal to show
}

}  // namespace
