#include "ui/WorkflowControl.h"

#include <climits>
#include <iterator>
#include <ostream>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureBase.h"
#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "platform/MessageBox.h"
#include "platform/TempFolder.h"
#include "ui/EventSink.h"
#include "ui/MainWindowDisplay.h"
#include "ui/ProcedureControl.h"
#include "ui/StatusTexts.h"
#include "ui/TextFormat.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

using enum ProcedureId;
using enum WorkflowMode;

namespace {

constexpr const char* kSelfPatchDoneLog = "NM_LAUNCHER_SELF_PATCH_DONE";

// Slots of the milestones.
constexpr int kSlotSelfUpdate = 0;
constexpr int kSlotRpInstall = 1;
constexpr int kSlotCpInstall = 2;
constexpr int kSlotGamePatch = 3;
constexpr int kSlotGameRepair = 4;

// Events of each mode, indexed by its number; null where the mode has none.
struct ModeEvents {
  const char* version;
  const char* down;
  int slot;
  const char* start;
  const char* fail;
  const char* noneed;
  const char* success;
};

constexpr ModeEvents kModeEvents[] = {
    {"LE_UpdateSelfVersion", "LE_UpdateSelfDown", kSlotSelfUpdate, nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, kSlotCpInstall, nullptr, nullptr, nullptr, nullptr},
    {"LE_RPInstallVersion", "LE_RPInstallDown", kSlotRpInstall, "LE_StartRPInstall", "LE_RPInstallFail",
     "LE_RPInstallNoneed", "LE_RPInstallSuccess"},
    {"LE_GamePatchVersion", "LE_GamePatchDown", kSlotGamePatch, nullptr, nullptr, nullptr, nullptr},
    {"LE_GameRepaireVersion", "LE_GameRepaireDown", kSlotGameRepair, "LE_StartRepire", "LE_GameRepaireFail",
     "LE_GameRepaireNoneed", "LE_GameRepaireSuccess"},
    {nullptr, nullptr, kSlotSelfUpdate, nullptr, nullptr, nullptr, nullptr},
};

// Texts of the version-list repair failures, in message order (the
// self-update's and the game repair's messages run in the same order).
constexpr const char* kRepairFailureTexts[] = {"down version", "read version", "down gameinfo",  "cmp gameinfo",
                                               "create dir",   "down rpfile",  "replace rpfile", "replace gameinfo"};

struct FailureText {
  MessageId message;
  const char* text;
};

// Game patch failures that offer a repair.
constexpr FailureText kPatchRepairableFailures[] = {
    {UM_GAMEPATCH_FAIL_CHECK_GAMEINFO, "check gameinfo"}, {UM_GAMEPATCH_FAIL_CREATE_DIR, "create dir"},
    {UM_GAMEPATCH_FAIL_PATCH_FILE, "patch file"},         {UM_GAMEPATCH_FAIL_ANALYSE, "analy file"},
    {UM_GAMEPATCH_FAIL_FILE_UPDATE, "file update"},
};

// Game patch failures that end with their event.
constexpr FailureText kPatchFinalFailures[] = {
    {UM_GAMEPATCH_FAIL_CLIENT_VERSION, "client version"},
    {UM_GAMEPATCH_FAIL_GAME_RUNNING, "game running"},
    {UM_GAMEPATCH_FAIL_DOWN_PATCH, "down patchfile"},
};

// Install results that end with their event.
constexpr FailureText kInstallFailures[] = {
    {UM_INSTALL_FAIL_DOWN_PAGE, "down page"},      {UM_INSTALL_FAIL_USER_CANCEL, "user cancel"},
    {UM_INSTALL_FAIL_DOWN_VERSION, "down Verion"}, {UM_INSTALL_FAIL_READ_VERSION, "read Verion"},
    {UM_INSTALL_FAIL_CREATE_DIR, "Create Dir"},    {UM_INSTALL_FAIL_DOWN_INI, "down ini"},
    {UM_INSTALL_FAIL_FILE_SIZE, "get filesize"},   {UM_INSTALL_FAIL_ANALYSE, "anayl info"},
    {UM_INSTALL_FAIL_UNZIP_PAGE, "unzip page"},
};

template <size_t N>
const char* FindText(const FailureText (&table)[N], MessageId message) {
  for (const FailureText& row : table) {
    if (row.message == message) return row.text;
  }
  return nullptr;
}

// The repair failure text of a message in the range starting at `first`.
const char* RepairFailureText(MessageId message, MessageId first) {
  if (message < first || message >= first + std::size(kRepairFailureTexts)) return nullptr;
  return kRepairFailureTexts[message - first];
}

const char* NameOf(WorkflowMode mode) {
  switch (mode) {
    case MODE_SELF_UPDATE: return "MODE_SELF_UPDATE";
    case MODE_CP_INSTALL: return "MODE_CP_INSTALL";
    case MODE_RP_INSTALL: return "MODE_RP_INSTALL";
    case MODE_GAME_PATCH: return "MODE_GAME_PATCH";
    case MODE_GAME_REPAIR: return "MODE_GAME_REPAIR";
    case MODE_START_GAME: return "MODE_START_GAME";
  }
  return "WorkflowMode";
}

}  // namespace

void PrintTo(WorkflowMode mode, std::ostream* out) {
  *out << NameOf(mode) << " (" << static_cast<int32_t>(mode) << ")";
}

WorkflowControl::WorkflowControl(MainWindowDisplay& display, ProcedureControl& procedures, EventSink& events,
                                 WorkflowWindow& window, bool repaireFlag, bool relaunched)
    : display_(display),
      procedures_(procedures),
      events_(events),
      window_(window),
      repaireFlag_(repaireFlag),
      relaunched_(relaunched) {}

void WorkflowControl::SetMode(WorkflowMode mode) {
  mode_ = mode;
  reportedPercent_.fill(0);
}

void WorkflowControl::BeginSelfPatch() { Follow(PROC_SELF_PATCH, procedures_.StartSelfPatch()); }

void WorkflowControl::ContinueWithGame() {
  if (!IsPathExist(kGameListPath)) {
    events_.Report("LE_InstallWithMode", "compression");
    SetMode(MODE_CP_INSTALL);
    BeginGameInstall();
  } else if (repaireFlag_) {
    AskGameRepair();
  } else {
    BeginGamePatch();
  }
}

void WorkflowControl::OnMessage(const Message& message, std::optional<double> percent) {
  const ModeEvents& modeEvents = kModeEvents[static_cast<size_t>(mode_)];
  if (const char* text = RepairFailureText(message.id, UM_SELFPATCH_FAIL_DOWN_VERSION)) {
    events_.Report("LE_UpdateSelfFail", text);
    OnSelfUpdateFailed();
    return;
  }
  if (const char* text = RepairFailureText(message.id, UM_REPAIR_FAIL_DOWN_VERSION)) {
    if (modeEvents.fail != nullptr) events_.ReportAsync(modeEvents.fail, text);
    OnRepairFailed();
    return;
  }
  if (const char* text = FindText(kPatchRepairableFailures, message.id)) {
    events_.Report("LE_GamePatchFail", text);
    OnGamePatchFailed();
    return;
  }
  if (const char* text = FindText(kPatchFinalFailures, message.id)) {
    events_.Report("LE_GamePatchFail", text);
    StopIfFollowed(PROC_GAME_PATCH);
    return;
  }
  if (const char* text = FindText(kInstallFailures, message.id)) {
    events_.Report("LE_InstallByCPFail", text);
    StopIfFollowed(PROC_GAME_INSTALL);
    return;
  }

  switch (message.id) {
    case UM_SELFPATCH_START: events_.Report("LE_UpdateSelfStart", ""); break;
    case UM_SELFPATCH_NONEED:
      events_.Report("LE_UpdateSelfNoNeed", "");
      ContinueWithGame();
      break;
    case UM_SELFPATCH_DONE:
      WriteLaunchLog("%s", kSelfPatchDoneLog);
      events_.Report("LE_UpdateSelfSuccess", "");
      followed_.reset();
      if (relaunched_) {
        WriteLaunchLog("launcher files replaced again after a relaunch: no second relaunch");
        ContinueWithGame();
      } else {
        window_.RelaunchInstalledLauncher();
      }
      break;
    case UM_GAMEPATCH_START: events_.Report("LE_GameCheckUpdate", ""); break;
    case UM_GAMEPATCH_DOWNLOAD_BEGIN:
      SetMode(MODE_GAME_PATCH);
      events_.Report("LE_StartGamePatch", "");
      break;
    case UM_GAMEPATCH_NONEED:
    case UM_GAMEPATCH_DONE:
      events_.ReportAsync("LE_GamePatchNoNeed", "");
      SetMode(MODE_START_GAME);
      followed_.reset();
      window_.StartGame();
      break;
    case UM_REPAIR_START:
      if (mode_ == MODE_RP_INSTALL) {
        events_.ReportAsync(modeEvents.start, "");
        display_.SetText(IDC_STATUS, kStatusInstallStarting);
      } else if (mode_ == MODE_GAME_REPAIR) {
        display_.SetStartButtonEnabled(false);
        events_.ReportAsync(modeEvents.start, "");
        display_.SetText(IDC_STATUS, kStatusRepairing);
      }
      break;
    case UM_REPAIR_NONEED:
      if (modeEvents.noneed != nullptr) events_.ReportAsync(modeEvents.noneed, "");
      SetMode(MODE_START_GAME);
      followed_.reset();
      window_.StartGame();
      break;
    case UM_REPAIR_DONE:
      WriteLaunchLog("%s", kSelfPatchDoneLog);
      if (modeEvents.success != nullptr) events_.ReportAsync(modeEvents.success, "");
      // The folder of the install marker path; no marker is written and
      // nothing reads it, so its failure changes nothing.
      static_cast<void>(CreateDirectoryForPath(GetTempFolderPath() + "\\install.tova.flag", true));
      BeginGamePatch();
      break;
    case UM_INSTALL_START: events_.ReportAsync("LE_StartCPInstall", ""); break;
    case UM_PAGE_MISSING: events_.Report("LE_InstallByCPFail", "file notexist"); break;
    case UM_PAGE_UNZIP_FAILED:
      events_.Report("LE_InstallByCPFail", "unzip pageinner");
      OnInstallFailed();
      break;
    case UM_PAGES_DONE:
      events_.Report("LE_InstallSuccess", "");
      BeginGamePatch();
      break;
    case UM_LATEST_VERSION:
      if (modeEvents.version != nullptr) events_.Report(modeEvents.version, display_.view().Text(IDC_LATEST_VERSION));
      break;
    case UM_REPAIR_FILE_STEP:
      if (percent && modeEvents.down != nullptr) Milestone(modeEvents.slot, modeEvents.down, *percent);
      break;
    case UM_GAMEPATCH_DONE_SIZE:
      if (percent && mode_ == MODE_GAME_PATCH) Milestone(kSlotGamePatch, "LE_GamePatchDown", *percent);
      break;
    case UM_INSTALL_DONE_SIZE:
      if (percent) Milestone(kSlotCpInstall, "LE_CPDownPage", *percent);
      break;
    default: break;
  }
}

void WorkflowControl::BeginGamePatch() {
  SetMode(MODE_GAME_PATCH);
  display_.ResetProgressTexts();
  display_.SetText(IDC_STATUS, kStatusSearchingVersion);
  Follow(PROC_GAME_PATCH, procedures_.StartGamePatch(ReadConfigUrl(kUpdateUrlKey)));
}

void WorkflowControl::BeginGameRepair() {
  Follow(PROC_GAME_REPAIR, procedures_.StartGameRepair(ReadConfigUrl(kRepaireUrlKey)));
}

void WorkflowControl::BeginGameInstall() {
  Follow(PROC_GAME_INSTALL, procedures_.StartGameInstall(ReadConfigUrl(kInstallUrlKey)));
}

void WorkflowControl::AskGameRepair() {
  if (ShowMessageBox("ゲームデータを復元しますか?", kMessageCaption, window_.Window()) == kMessageBoxYes) {
    SetMode(MODE_GAME_REPAIR);
    BeginGameRepair();
  } else {
    window_.EndWindow();
  }
}

void WorkflowControl::OnSelfUpdateFailed() {
  AskAfterFailure(kStatusSelfUpdateFailed,
                  "バージョンアップデートに失敗しました。しばらくしてからもう一度お試しください。");
  window_.EndWindow();
}

void WorkflowControl::OnGamePatchFailed() {
  if (AskAfterFailure(kStatusSelfUpdateFailed, "アップデートに失敗しました。 ゲームデータの復元を行いますか?")) {
    SetMode(MODE_GAME_REPAIR);
    BeginGameRepair();
  } else {
    window_.EndWindow();
  }
}

void WorkflowControl::OnInstallFailed() {
  if (AskAfterFailure(kStatusInstallFailed, "ゲームのインストールに失敗しました。他の方法でインストールしますか？")) {
    SetMode(MODE_RP_INSTALL);
    BeginGameRepair();
  } else {
    window_.EndWindow();
  }
}

void WorkflowControl::OnRepairFailed() {
  AskAfterFailure(kStatusRepairFailed, "ゲームデータの復元に失敗しました。しばらくしてからもう一度お試しください。");
  window_.EndWindow();
}

void WorkflowControl::Follow(ProcedureId procedureId, bool started) {
  if (started) {
    followed_ = procedureId;
  } else {
    StopChain(procedureId);
  }
}

void WorkflowControl::StopIfFollowed(ProcedureId procedureId) {
  if (followed_ == procedureId) StopChain(procedureId);
}

void WorkflowControl::StopChain(ProcedureId procedureId) {
  followed_.reset();
  const char* status = kStatusUpdateFailed;
  switch (procedureId) {
    case PROC_SELF_PATCH: status = kStatusSelfUpdateFailed; break;
    case PROC_GAME_REPAIR:
    case PROC_GAME_REPAIR_FLAGGED:
      status = mode_ == MODE_RP_INSTALL ? kStatusInstallFailed : kStatusRepairFailed;
      break;
    case PROC_GAME_INSTALL: status = kStatusInstallFailed; break;
    case PROC_GAME_PATCH: break;
  }
  display_.ShowStopped();
  display_.SetText(IDC_STATUS, status);
  display_.SetText(IDC_PROGRESS_LABEL, "");
  display_.SetText(IDC_PERCENT, kStatusCloseHint);
  window_.StopChain();
}

void WorkflowControl::Milestone(int slot, const char* event, double percent) {
  int& reported = reportedPercent_[static_cast<size_t>(slot)];
  if (!(reported + 10.0 <= percent)) return;
  events_.Report(event, FormatText("%.2f", percent));
  reported = percent >= INT_MAX ? INT_MAX : static_cast<int>(percent);
}

bool WorkflowControl::AskAfterFailure(const char* status, const char* text) {
  display_.SetText(IDC_STATUS, status);
  return ShowMessageBox(text, kMessageCaption, window_.Window()) == kMessageBoxYes;
}
