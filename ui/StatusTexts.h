// The texts of the main window's status line (control 1021), by the moment
// they are shown. The repair's file line is built from kStatusRepairFile and
// the file's name.
#pragma once

inline constexpr const char* kStatusUpdateBegin = "アップデート開始...";
inline constexpr const char* kStatusUpdateUnpack = "アップデートファイル展開...";
inline constexpr const char* kStatusUpdateAnalyse = "アップデートファイル解析中...";
inline constexpr const char* kStatusUpdateCopy = "更新中！終了しないでください。";
inline constexpr const char* kStatusUpdateCleanup = "キャッシュクリア中...";
inline constexpr const char* kStatusPagesUnpacking = "ゲームインストールファイルを解凍しています......";
inline constexpr const char* kStatusSearchingVersion = "バージョン検索中...";
inline constexpr const char* kStatusSearchingUpdate = "アップデート検索中...";
inline constexpr const char* kStatusUpdating = "更新中...";
inline constexpr const char* kStatusDownloadingUpdate = "アップデートをダウンロード中...";
inline constexpr const char* kStatusUpdateFailed = "アップデートに失敗しました。 ";
inline constexpr const char* kStatusUpdateDone = "アップデート完了しました。";
inline constexpr const char* kStatusInstallStarting = "ゲームイニシエータを実行中..... ";
inline constexpr const char* kStatusInstallDownloading = "ゲームインストールファイルをダウンロードしています......";
inline constexpr const char* kStatusRepairing = "ゲームデータ復元中....";
inline constexpr const char* kStatusSelfUpdateFailed = "バージョンアップデートに失敗しました。";
inline constexpr const char* kStatusInstallFailed = "ゲームのインストールに失敗しました.";
inline constexpr const char* kStatusRepairFailed = "ゲームデータの復元に失敗しました!";
// Also the text of the message box that follows it.
inline constexpr const char* kStatusStartFailed = "ゲーム起動に失敗しました。しばらくしてからもう一度お試しください。";
// "%s  %s" of this label and the file's name.
inline constexpr const char* kStatusRepairFile = "ファイル復元: ";
// While a download is retried: "%d/%d" of the attempt about to start and the
// attempts a download gets. It stands until bytes arrive again.
inline constexpr const char* kStatusWaitingForServer = "サーバーの応答を待っています（再試行 %d/%d）";
// The caption of every message box the window shows.
inline constexpr const char* kMessageCaption = "メッセージ";
// The chain has stopped with the window open: how to close it (in the
// percentage's row, and the terminal's last line).
inline constexpr const char* kStatusCloseHint = "Enterキーを押すと閉じます。";
// The question when the window is closed, or Ctrl-C is pressed, while the
// chain runs (a message box with はい / いいえ).
inline constexpr const char* kStopQuestion = "更新を中止しますか？\r\n次回の起動時に続きから再開します。";
