#include "ui/MainWindowDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "ui/StatusTexts.h"
#include "ui/TextFormat.h"
#include "util/Encoding.h"
#include "util/TextUtil.h"

namespace {

constexpr const char* kProgressLabel = "進捗状況: ";
constexpr const char* kFileCountLabel = "ファイル数: ";
constexpr const char* kRepairFileLabel = "ファイル: ";
constexpr const char* kDownloadLabel = "ダウンロード: ";
constexpr const char* kUnpackLabel = "展開中:  ";
constexpr const char* kRemainingLabel = "残り時間";
constexpr const char* kSpeedLabel = "DL速度: ";
constexpr const char* kCurrentVersionLabel = "現在のVer: ";
constexpr const char* kLatestVersionLabel = "最新Ver: ";
constexpr const char* kUnknownVersion = "不明";

constexpr int kProgressStep = 0;

// Phase of UM_REPAIR_FILE_STEP during which the entry is downloaded.
constexpr int kRepairStepDownloading = 2;

// The part of the way from the remaining time shown (less the second that
// passed) to the new estimate that one timer tick goes.
constexpr double kRemainingWeight = 0.2;

// The messages whose whole display reaction is a status text.
struct StatusText {
  MessageId id;
  const char* text;
};
constexpr StatusText kStatusTexts[] = {
    {UM_UPDATE_UNPACK_BEGIN, kStatusUpdateUnpack},
    {UM_UPDATE_ANALYSE_BEGIN, kStatusUpdateAnalyse},
    {UM_UPDATE_COPY_BEGIN, kStatusUpdateCopy},
    {UM_UPDATE_CLEANUP_BEGIN, kStatusUpdateCleanup},
    {UM_PAGES_UNPACK_BEGIN, kStatusPagesUnpacking},
    {UM_GAMEPATCH_START, kStatusSearchingUpdate},
    {UM_GAMEPATCH_UPDATING, kStatusUpdating},
    {UM_GAMEPATCH_DOWNLOAD_BEGIN, kStatusDownloadingUpdate},
    {UM_GAMEPATCH_FAIL_CHECK_GAMEINFO, kStatusUpdateFailed},
    {UM_GAMEPATCH_NONEED, kStatusUpdateDone},
    {UM_GAMEPATCH_DONE, kStatusUpdateDone},
    {UM_INSTALL_START, kStatusInstallStarting},
};

// A text argument: the sender's 8-bit text in the system code page (UTF-8),
// copied with invalid sequences replaced.
std::string TextArgument(uintptr_t address) {
  const char* text = reinterpret_cast<const char*>(address);
  return text == nullptr ? std::string() : WideToUtf8(Utf8ToWide(text));
}

// A size text made with "%lf"; 0 when it cannot be read.
double SizeArgument(uintptr_t address) {
  const char* text = reinterpret_cast<const char*>(address);
  double value = 0;
  if (text == nullptr || std::sscanf(text, "%lf", &value) != 1) return 0;
  return value;
}

// The 32-bit integer at an integer address argument.
int IntegerAtArgument(uintptr_t address) {
  const int32_t* value = reinterpret_cast<const int32_t*>(address);
  return value == nullptr ? 0 : *value;
}

int IntegerArgument(uintptr_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// done / total as a percentage; 0 when the total is 0 or the quotient is not a number.
double Percent(double done, double total) {
  if (total == 0) return 0;
  const double p = done / total * 100;
  return std::isfinite(p) ? p : 0;
}

// A count truncated to a 64-bit integer, saturated at the limits; 0 for NaN.
int64_t TruncatedInt64(double bytes) {
  if (std::isnan(bytes)) return 0;
  if (bytes >= 0x1p63) return std::numeric_limits<int64_t>::max();
  if (bytes <= -0x1p63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(bytes);
}

std::string SizeText(double bytes) { return FormatByteSize(TruncatedInt64(bytes)); }

// "%H:%M:%S" of a time span: hours of the day, minutes and seconds.
std::string TimeSpanText(double seconds) {
  const int64_t whole = TruncatedInt64(seconds);
  return FormatText("%02d:%02d:%02d", static_cast<int>(whole / 3600 % 24), static_cast<int>(whole / 60 % 60),
                    static_cast<int>(whole % 60));
}

// The remaining time to show at a timer tick, from the time shown at the last
// tick (0: none) and the estimate of the bytes left at the current speed: the
// count goes down a second per tick and leans towards the estimate.
double SmoothedRemaining(double shown, double estimate) {
  if (!(shown > 0)) return estimate;
  const double counted = std::max(shown - 1, 0.0);
  return counted + (estimate - counted) * kRemainingWeight;
}

// The part of a name after its last backslash, or the whole name.
std::string LastComponent(const std::string& name) {
  const size_t slash = name.rfind('\\');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::optional<double> MainWindowDisplay::Apply(const Message& message) {
  for (const StatusText& status : kStatusTexts) {
    if (status.id == message.id) {
      SetText(IDC_STATUS, status.text);
      return std::nullopt;
    }
  }
  // The messages that change more than the status text.
  std::optional<double> p;
  switch (message.id) {
    case UM_UPDATE_FILES_BEGIN:
      patchTotalBytes_ = patchDoneBytes_ = 0;
      repairFileCount_ = currentFileTotal_ = currentFileReceived_ = 0;
      patchCount_ = patchIndex_ = updateItemTotal_ = updateItemIndex_ = 0;
      SetText(IDC_STATUS, kStatusUpdateBegin);
      SetText(IDC_SPEED_LABEL, "");
      SetText(IDC_SPEED, "");
      SetText(IDC_PERCENT, "0%");
      SetText(IDC_COUNT_LABEL, "");
      SetText(IDC_COUNT, "");
      break;
    case UM_UPDATE_FILE_TOTAL:
      updateItemTotal_ = IntegerAtArgument(message.lParam);
      p = 0;
      ShowPercent(*p);
      SetText(IDC_COUNT_LABEL, kFileCountLabel);
      SetText(IDC_COUNT, FormatText("1/%d", updateItemTotal_));
      break;
    case UM_UPDATE_FILE_INDEX:
      updateItemIndex_ = IntegerArgument(message.lParam);
      p = Percent(updateItemIndex_, updateItemTotal_);
      ShowPercent(*p);
      SetText(IDC_COUNT, FormatText("%d/%d", updateItemIndex_, updateItemTotal_));
      break;
    case UM_PAGES_BEGIN:
      timerRunning_ = false;
      SetText(IDC_STATUS, kStatusPagesUnpacking);
      break;
    case UM_PAGE_TOTAL:
      pageTotal_ = IntegerAtArgument(message.lParam);
      ShowCounter(kUnpackLabel, 1, pageTotal_);
      break;
    case UM_PAGE_INDEX:
      pageIndex_ = IntegerArgument(message.lParam);
      ShowCounter(kUnpackLabel, pageIndex_, pageTotal_);
      break;
    case UM_DOWNLOAD_SPEED:
      downloadSpeed_ = IntegerArgument(message.wParam);
      SetText(IDC_SPEED_LABEL, kSpeedLabel);
      SetText(IDC_SPEED, TextArgument(message.lParam) + "B/s");
      break;
    case UM_DOWNLOAD_BYTES:
      currentFileTotal_ = IntegerArgument(message.lParam);
      currentFileReceived_ = IntegerArgument(message.wParam);
      overallDoneBytes_ = static_cast<uint32_t>(message.wParam) + installDoneBytes_;
      if (!waitingText_.empty() && view_.Text(IDC_STATUS) == waitingText_) SetText(IDC_STATUS, statusBeforeWaiting_);
      waitingText_.clear();
      p = ShowDownloadInProgress();
      break;
    case UM_DOWNLOAD_RETRY: {
      // Nothing has arrived for the low-speed limit, or the server refused:
      // the speed says that nothing arrives and the status line says why.
      const std::string waiting =
          FormatText(kStatusWaitingForServer, IntegerArgument(message.wParam), IntegerArgument(message.lParam));
      if (waitingText_.empty()) statusBeforeWaiting_ = view_.Text(IDC_STATUS);
      waitingText_ = waiting;
      SetText(IDC_STATUS, waiting);
      downloadSpeed_ = 0;
      SetText(IDC_SPEED_LABEL, kSpeedLabel);
      SetText(IDC_SPEED, FormatByteSize(0) + "B/s");
      break;
    }
    case UM_LATEST_VERSION:
      latestVersion_ = TextArgument(message.wParam);
      SetText(IDC_LATEST_VERSION_LABEL, kLatestVersionLabel);
      SetText(IDC_LATEST_VERSION, latestVersion_);
      break;
    case UM_CURRENT_VERSION:
      currentVersion_ = TextArgument(message.wParam);
      if (currentVersion_.empty()) currentVersion_ = kUnknownVersion;
      SetText(IDC_CURRENT_VERSION_LABEL, kCurrentVersionLabel);
      SetText(IDC_CURRENT_VERSION, currentVersion_);
      break;
    case UM_REPAIR_FILE_TOTAL:
      repairFileCount_ = IntegerArgument(message.wParam);
      repairStep_ = repairIndex_ = 0;
      break;
    case UM_REPAIR_FILE_STEP: {
      const int step = IntegerArgument(message.wParam);
      const int index = IntegerArgument(message.lParam);
      repairStep_ = step;
      repairIndex_ = index;
      p = Percent(step + 4.0 * (index - 1), 4.0 * repairFileCount_);
      ShowPercent(*p);
      ShowCounter(kRepairFileLabel, index, repairFileCount_);
      break;
    }
    case UM_REPAIR_FILE_NAME:
      SetText(IDC_STATUS, FormatText("%s  %s", kStatusRepairFile, LastComponent(TextArgument(message.wParam)).c_str()));
      break;
    case UM_SELFPATCH_START:
      ResetProgressTexts();
      SetText(IDC_STATUS, kStatusSearchingVersion);
      break;
    case UM_GAMEPATCH_TOTAL_SIZE:
      patchTotalBytes_ = SizeArgument(message.lParam);
      p = 0;
      ShowPercent(*p);
      break;
    case UM_GAMEPATCH_DONE_SIZE:
      patchDoneBytes_ = SizeArgument(message.lParam);
      p = Percent(patchDoneBytes_, patchTotalBytes_);
      ShowPercent(*p);
      break;
    case UM_GAMEPATCH_COUNT:
      patchCount_ = IntegerArgument(message.lParam);
      ShowCounter(kDownloadLabel, 1, patchCount_);
      break;
    case UM_GAMEPATCH_INDEX:
      patchIndex_ = IntegerArgument(message.lParam);
      ShowCounter(kDownloadLabel, patchIndex_, patchCount_);
      break;
    case UM_REPAIR_START: ResetProgressTexts(); break;
    case UM_INSTALL_TOTAL_SIZE:
      installTotalBytes_ = SizeArgument(message.lParam);
      SetText(IDC_STATUS, kStatusInstallDownloading);
      SetText(IDC_PROGRESS_LABEL, kProgressLabel);
      SetText(IDC_PERCENT, FormatText("%.2f%%(%sB/%sB)", 0.0, "0", SizeText(installTotalBytes_).c_str()));
      p = 0;
      break;
    case UM_INSTALL_PAGE_COUNT:
      installPageCount_ = IntegerArgument(message.lParam);
      ShowCounter(kDownloadLabel, 1, installPageCount_);
      break;
    case UM_INSTALL_DONE_SIZE: {
      installDoneBytes_ = SizeArgument(message.lParam);
      const double left = installTotalBytes_ - installDoneBytes_;
      const bool remainingKnown = downloadSpeed_ > 0 && left > 0;
      if (remainingKnown) remainingSeconds_ = left / downloadSpeed_;
      p = Percent(installDoneBytes_, installTotalBytes_);
      ShowInstallPercent(*p, installDoneBytes_);
      SetText(IDC_COUNT_LABEL, kRemainingLabel);
      if (!remainingKnown) SetText(IDC_COUNT, "");
      break;
    }
    case UM_INSTALL_PAGE_INDEX: installPageIndex_ = IntegerArgument(message.lParam); break;
    case UM_INSTALL_TIMER_START:
      if (!timerStarted_) timerStarted_ = timerRunning_ = true;
      break;
    case UM_INSTALL_FAIL_DOWN_PAGE:
    case UM_INSTALL_FAIL_CREATE_DIR:
    case UM_INSTALL_FAIL_DOWN_INI:
    case UM_INSTALL_FAIL_FILE_SIZE:
    case UM_INSTALL_FAIL_ANALYSE: timerRunning_ = false; break;
    default: break;
  }
  if (p) SetProgress(*p);
  return p;
}

void MainWindowDisplay::ResetProgressTexts() {
  for (std::string& text : view_.texts) text.clear();
  repairFileCount_ = repairStep_ = repairIndex_ = 0;
  patchTotalBytes_ = patchDoneBytes_ = 0;
  patchCount_ = patchIndex_ = 0;
  currentFileTotal_ = currentFileReceived_ = 0;
  latestVersion_.clear();
  currentVersion_.clear();
}

void MainWindowDisplay::SetProgress(double p) {
  int position = kProgressLower;
  if (p >= kProgressUpper) {
    position = kProgressUpper;
  } else if (p >= kProgressLower) {  // false for NaN
    position = static_cast<int>(p);
  }
  view_.progressPosition = std::min(position + kProgressStep, kProgressUpper);
}

void MainWindowDisplay::SetText(int controlId, std::string text) { view_.Text(controlId) = std::move(text); }

void MainWindowDisplay::SetStartButtonEnabled(bool enabled) { view_.startButtonEnabled = enabled; }

void MainWindowDisplay::SetMinimized(bool minimized) { view_.minimized = minimized; }

void MainWindowDisplay::SetTopmost(bool topmost) { view_.topmost = topmost; }

void MainWindowDisplay::OnTimer() {
  if (!timerRunning_ || downloadSpeed_ < 1) return;
  remainingSeconds_ = (installTotalBytes_ - overallDoneBytes_) / downloadSpeed_;
  if (!(remainingSeconds_ > 0)) return;
  shownRemainingSeconds_ = SmoothedRemaining(shownRemainingSeconds_, remainingSeconds_);
  SetText(IDC_COUNT_LABEL, kRemainingLabel);
  SetText(IDC_COUNT, TimeSpanText(shownRemainingSeconds_));
  // The bar follows the bytes the percentage text shows.
  const double p = Percent(overallDoneBytes_, installTotalBytes_);
  ShowInstallPercent(p, overallDoneBytes_);
  SetProgress(p);
}

void MainWindowDisplay::ShowPercent(double p) {
  SetText(IDC_PROGRESS_LABEL, kProgressLabel);
  SetText(IDC_PERCENT, FormatText("%.2f%%", p));
}

std::optional<double> MainWindowDisplay::ShowDownloadInProgress() {
  const double received = static_cast<uint32_t>(currentFileReceived_);
  const double total = static_cast<uint32_t>(currentFileTotal_);
  std::optional<double> p;
  if (patchTotalBytes_ > 0) {
    // A package of the current patch: the bytes present and those arriving.
    p = Percent(patchDoneBytes_ + received, patchTotalBytes_);
  } else if (repairStep_ == kRepairStepDownloading && repairFileCount_ > 0 && total > 0) {
    // The entry's download fills the quarter between its downloading and
    // finished steps.
    p = Percent(repairStep_ + std::min(received / total, 1.0) + 4.0 * (repairIndex_ - 1), 4.0 * repairFileCount_);
  } else {
    return std::nullopt;
  }
  ShowPercent(*p);
  return p;
}

void MainWindowDisplay::ShowCounter(const char* label, int index, int total) {
  SetText(IDC_COUNT_LABEL, label);
  SetText(IDC_COUNT, FormatText("%d/%d", index, total));
}

void MainWindowDisplay::ShowInstallPercent(double p, double done) {
  SetText(IDC_PROGRESS_LABEL, kProgressLabel);
  SetText(IDC_PERCENT, FormatText("%.2f%%(%sB/%sB)", p, SizeText(done).c_str(), SizeText(installTotalBytes_).c_str()));
}

void MainWindowDisplay::ShowStopped() {
  timerRunning_ = false;
  if (view_.Text(IDC_COUNT_LABEL) == kRemainingLabel) {
    SetText(IDC_COUNT_LABEL, "");
    SetText(IDC_COUNT, "");
  }
  SetText(IDC_SPEED_LABEL, "");
  SetText(IDC_SPEED, "");
}
