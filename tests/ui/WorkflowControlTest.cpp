#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "tests/ui/WindowFixture.h"
#include "ui/TrayMessages.h"
#include "ui/WorkflowControl.h"
#include "util/LaunchLog.h"

namespace uitest {
namespace {

using WorkflowTest = WindowTest;
using enum WorkflowMode;

TEST_F(WorkflowTest, InitialisationStartsTheSelfUpdateAndShowsItsTexts) {
  Open();
  EXPECT_EQ(procedures.initWindow, dlg->window());
  EXPECT_EQ(procedures.starts, (std::vector<StartCall>{{"self", ""}}));
  EXPECT_EQ(dlg->mode(), MODE_SELF_UPDATE);
  EXPECT_EQ(dlg->view().progressPosition, 1);
  EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_LauncherStart", "", true}}));

  Send(UM_SELFPATCH_START);
  EXPECT_EQ(Text(IDC_STATUS), "バージョン検索中...");
  EXPECT_EQ(frontEnd.views().back().Text(IDC_STATUS), "バージョン検索中...");
  SendText(UM_LATEST_VERSION, "1.0.1");
  SendText(UM_CURRENT_VERSION, "1.0.0");
  EXPECT_EQ(frontEnd.views().back().Text(IDC_CURRENT_VERSION), "1.0.0");
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_UpdateSelfStart", ""}, {"LE_UpdateSelfVersion", "1.0.1"}}));
}

TEST_F(WorkflowTest, UpToDateWithoutAGameListInstallsTheGame) {
  WriteConfig("[install]\ninstallUrl=http://install.example/base\n");
  Open();
  Send(UM_SELFPATCH_NONEED);
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_UpdateSelfNoNeed", ""}, {"LE_InstallWithMode", "compression"}}));
  EXPECT_EQ(dlg->mode(), MODE_CP_INSTALL);
  EXPECT_EQ(procedures.starts.back(), (StartCall{"install", "http://install.example/base"}));

  sink.clear();
  Send(UM_INSTALL_START);
  SendText(UM_LATEST_VERSION, "2.0");  // no version event while installing from pages
  EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_StartCPInstall", "", true}}));
  EXPECT_EQ(Text(IDC_STATUS), "ゲームイニシエータを実行中..... ");
}

TEST_F(WorkflowTest, UpToDateWithAGameListPatchesWithTheUpdateUrl) {
  const struct {
    const char* config;
    std::string url;
  } cases[] = {
      {nullptr, BackupServerBase()},
      {"[update]\nupdateUrl=http://update.example/x\n", "http://update.example/x"},
      {"[update]\nupdateUrl=\n", BackupServerBase()},
  };
  WriteGameList();
  for (const auto& c : cases) {
    std::filesystem::remove(launcherDir() / "launcher.ini");
    if (c.config != nullptr) WriteConfig(c.config);
    procedures.starts.clear();
    Open();
    Send(UM_SELFPATCH_NONEED);
    EXPECT_EQ(dlg->mode(), MODE_GAME_PATCH);
    EXPECT_EQ(Text(IDC_STATUS), "バージョン検索中...");
    EXPECT_EQ(procedures.starts.back(), (StartCall{"patch", c.url}));
  }
  EXPECT_TRUE(frontEnd.questions().empty());
}

TEST_F(WorkflowTest, RepairQuestionRefusedEndsTheWindow) {
  WriteGameList();
  Open(true);
  Send(UM_SELFPATCH_NONEED);
  ASSERT_EQ(frontEnd.questions().size(), 1u);
  EXPECT_EQ(frontEnd.questions()[0].text, "ゲームデータを復元しますか?");
  EXPECT_EQ(frontEnd.questions()[0].caption, "メッセージ");
  EXPECT_TRUE(dlg->ended());
  EXPECT_EQ(dlg->outcome(), LauncherOutcome::kStopped);
  EXPECT_EQ(procedures.starts.size(), 1u);
}

TEST_F(WorkflowTest, RepairQuestionAcceptedRepairsThenStartsTheGameWhenNothingIsToRepair) {
  WriteGameList();
  WriteRecordingClient();
  WriteConfig("[repaire]\nrepaireUrl=http://repair.example\n");
  frontEnd.Answer(1);
  Open(true);
  Send(UM_SELFPATCH_NONEED);
  EXPECT_EQ(dlg->mode(), MODE_GAME_REPAIR);
  EXPECT_EQ(procedures.starts.back(), (StartCall{"repair", "http://repair.example"}));

  sink.clear();
  Send(UM_REPAIR_LAUNCHED);
  Send(UM_REPAIR_START);
  EXPECT_FALSE(dlg->view().startButtonEnabled);
  EXPECT_EQ(Text(IDC_STATUS), "ゲームデータ復元中....");
  SendText(UM_LATEST_VERSION, "3.1");
  Send(UM_REPAIR_NONEED);
  EXPECT_EQ(dlg->mode(), MODE_START_GAME);
  EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kGameStarted);
  EXPECT_TRUE(WaitForClient());
  EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_StartRepire", "", true},
                                               {"LE_GameRepaireVersion", "3.1", false},
                                               {"LE_GameRepaireNoneed", "", true},
                                               {"LE_GameStartSuccess", "", true}}));
}

TEST_F(WorkflowTest, RefusedRepairStartStopsTheChainWithTheWindowOpen) {
  WriteGameList();
  frontEnd.Answer(1);
  Open(true);
  procedures.result = false;
  WriteLaunchLog("FILE=Procedure\\ProcedureManager,LINE=813 ,TerminateProcess Error,  errorcode =1  ");
  WriteLaunchLog("an ordinary line after it");
  Send(UM_SELFPATCH_NONEED);
  EXPECT_TRUE(dlg->chainStopped());
  EXPECT_FALSE(dlg->ended());
  EXPECT_EQ(Text(IDC_STATUS), "ゲームデータの復元に失敗しました!");
  EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kStopped);
  EXPECT_EQ(frontEnd.closeWaits, 1);
  // The front-end is given the launch log's last failure line.
  EXPECT_EQ(frontEnd.closeReason, "FILE=Procedure\\ProcedureManager,LINE=813 ,TerminateProcess Error,  errorcode =1");
}

// A stop asked for while the chain runs: a signal from a script stops at
// once; Ctrl-C on a terminal and the window's close ask first, once.
TEST_F(WorkflowTest, StopRequestsStopTheChainAskingWhereAUserMayHaveErred) {
  const auto deliver = [] {
    while (MessageLoop::PumpPending() > 0) {
    }
  };
  for (StopRequest request : {StopRequest::kSigterm, StopRequest::kSigint}) {
    procedures.stops = 0;
    Open();
    dlg->RequestStop(request);
    deliver();
    EXPECT_EQ(procedures.stops, 1);
    EXPECT_TRUE(dlg->ended());
    EXPECT_EQ(dlg->outcome(), LauncherOutcome::kInterrupted);
    EXPECT_TRUE(frontEnd.questions().empty());
  }
  EXPECT_NE(LaunchLog().find("stopped on request (SIGTERM)"), std::string::npos) << LaunchLog();

  for (StopRequest request : {StopRequest::kInterrupt, StopRequest::kWindowClosed}) {
    procedures.stops = 0;
    Open();
    Send(UM_INSTALL_START);
    const size_t asked = frontEnd.questions().size();
    frontEnd.Answer(2);
    dlg->RequestStop(request);
    deliver();
    ASSERT_EQ(frontEnd.questions().size(), asked + 1);
    EXPECT_EQ(frontEnd.questions().back().text, "更新を中止しますか？\r\n次回の起動時に続きから再開します。");
    EXPECT_EQ(frontEnd.questions().back().caption, "メッセージ");
    EXPECT_FALSE(dlg->ended());
    EXPECT_EQ(procedures.stops, 0);

    frontEnd.Answer(1);
    dlg->RequestStop(request);
    deliver();
    EXPECT_EQ(frontEnd.questions().size(), asked + 2);
    EXPECT_EQ(procedures.stops, 1);
    EXPECT_TRUE(dlg->ended());
    EXPECT_EQ(dlg->outcome(), LauncherOutcome::kInterrupted);
  }
  EXPECT_NE(LaunchLog().find("stop declined (Ctrl-C): the run goes on"), std::string::npos);
  EXPECT_NE(LaunchLog().find("stopped on request (the window was closed)"), std::string::npos);
}

TEST_F(WorkflowTest, SelfUpdateFailuresEndAfterTheirDialog) {
  const struct {
    MessageId id;
    const char* text;
  } cases[] = {
      {UM_SELFPATCH_FAIL_DOWN_VERSION, "down version"},   {UM_SELFPATCH_FAIL_READ_VERSION, "read version"},
      {UM_SELFPATCH_FAIL_DOWN_GAMEINFO, "down gameinfo"}, {UM_SELFPATCH_FAIL_CMP_GAMEINFO, "cmp gameinfo"},
      {UM_SELFPATCH_FAIL_CREATE_DIR, "create dir"},       {UM_SELFPATCH_FAIL_DOWN_FILE, "down rpfile"},
      {UM_SELFPATCH_FAIL_REPLACE_FILE, "replace rpfile"}, {UM_SELFPATCH_FAIL_REPLACE_GAMEINFO, "replace gameinfo"},
  };
  for (const auto& c : cases) {
    sink.clear();
    frontEnd.Answer(1);  // either answer ends the window
    Open();
    Send(c.id);
    EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_UpdateSelfFail", c.text}}));
    const Question question = frontEnd.questions().back();
    EXPECT_EQ(question.text, "バージョンアップデートに失敗しました。しばらくしてからもう一度お試しください。");
    EXPECT_EQ(question.statusShown, "バージョンアップデートに失敗しました。");
    EXPECT_TRUE(dlg->ended()) << c.text;
    EXPECT_EQ(dlg->outcome(), LauncherOutcome::kStopped);
  }
}

TEST_F(WorkflowTest, SelfUpdateDoneRelaunchesTheInstalledLauncher) {
  Open();
  Send(UM_SELFPATCH_DONE);
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_UpdateSelfSuccess", ""}}));
  EXPECT_TRUE(dlg->ended());
  EXPECT_EQ(dlg->outcome(), LauncherOutcome::kRelaunch);
  EXPECT_EQ(dlg->view().progressPosition, 100);
  const std::string log = LaunchLog();
  const size_t first = log.find("NM_LAUNCHER_SELF_PATCH_DONE");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find("NM_LAUNCHER_SELF_PATCH_DONE", first + 1), std::string::npos);
}

// After a relaunch, files replaced again do not relaunch a second time: the
// chain goes on with the game as after an up-to-date launcher.
TEST_F(WorkflowTest, SelfUpdateDoneAfterARelaunchGoesOnWithTheGame) {
  WriteConfig("[install]\ninstallUrl=http://install.example\n[update]\nupdateUrl=http://update.example\n");
  const struct {
    bool gameList;
    StartCall start;
    std::vector<Event> chain;
  } cases[] = {
      {false,
       {"install", "http://install.example"},
       {{"LE_UpdateSelfSuccess", ""}, {"LE_InstallWithMode", "compression"}}},
      {true, {"patch", "http://update.example"}, {{"LE_UpdateSelfSuccess", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gameList);
    std::filesystem::remove(tree() / "GameInfo.ini");
    if (c.gameList) WriteGameList();
    sink.clear();
    Open(false, true);
    Send(UM_SELFPATCH_DONE);
    EXPECT_FALSE(dlg->ended());
    EXPECT_EQ(procedures.starts.back(), c.start);
    EXPECT_EQ(sink.chain(), c.chain);
    EXPECT_NE(LaunchLog().find("NM_LAUNCHER_SELF_PATCH_DONE\n"), std::string::npos);
    EXPECT_NE(LaunchLog().find("no second relaunch"), std::string::npos);
  }
}

TEST_F(WorkflowTest, PatchFailuresOfTheFirstGroupOfferARepair) {
  const struct {
    MessageId id;
    const char* text;
  } cases[] = {
      {UM_GAMEPATCH_FAIL_CHECK_GAMEINFO, "check gameinfo"}, {UM_GAMEPATCH_FAIL_CREATE_DIR, "create dir"},
      {UM_GAMEPATCH_FAIL_PATCH_FILE, "patch file"},         {UM_GAMEPATCH_FAIL_ANALYSE, "analy file"},
      {UM_GAMEPATCH_FAIL_FILE_UPDATE, "file update"},
  };
  WriteGameList();
  for (const int answer : {1, 2}) {
    for (const auto& c : cases) {
      Open();
      Send(UM_SELFPATCH_NONEED);
      sink.clear();
      procedures.starts.clear();
      frontEnd.Answer(answer);
      Send(c.id);
      EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_GamePatchFail", c.text}}));
      const Question question = frontEnd.questions().back();
      EXPECT_EQ(question.text, "アップデートに失敗しました。 ゲームデータの復元を行いますか?");
      EXPECT_EQ(question.statusShown, "バージョンアップデートに失敗しました。");
      if (answer == 1) {
        EXPECT_EQ(dlg->mode(), MODE_GAME_REPAIR);
        EXPECT_EQ(procedures.starts, (std::vector<StartCall>{{"repair", BackupServerBase()}}));
        EXPECT_FALSE(dlg->ended());
      } else {
        EXPECT_TRUE(procedures.starts.empty());
        EXPECT_TRUE(dlg->ended());
      }
    }
  }
}

// The chain stops with the window open: the status line says which step
// failed, the speed and the remaining time go, the percentage's row says how
// to close the window, and the rest stays as it was.
TEST_F(WorkflowTest, FailuresThatOnlyReportStopTheChainSayingSo) {
  const struct {
    MessageId id;
    const char* event;
    const char* text;
    bool installing;
  } cases[] = {
      {UM_GAMEPATCH_FAIL_CLIENT_VERSION, "LE_GamePatchFail", "client version", false},
      {UM_GAMEPATCH_FAIL_GAME_RUNNING, "LE_GamePatchFail", "game running", false},
      {UM_GAMEPATCH_FAIL_DOWN_PATCH, "LE_GamePatchFail", "down patchfile", false},
      {UM_INSTALL_FAIL_DOWN_PAGE, "LE_InstallByCPFail", "down page", true},
      {UM_INSTALL_FAIL_USER_CANCEL, "LE_InstallByCPFail", "user cancel", true},
      {UM_INSTALL_FAIL_DOWN_VERSION, "LE_InstallByCPFail", "down Verion", true},
      {UM_INSTALL_FAIL_READ_VERSION, "LE_InstallByCPFail", "read Verion", true},
      {UM_INSTALL_FAIL_CREATE_DIR, "LE_InstallByCPFail", "Create Dir", true},
      {UM_INSTALL_FAIL_DOWN_INI, "LE_InstallByCPFail", "down ini", true},
      {UM_INSTALL_FAIL_FILE_SIZE, "LE_InstallByCPFail", "get filesize", true},
      {UM_INSTALL_FAIL_ANALYSE, "LE_InstallByCPFail", "anayl info", true},
      {UM_INSTALL_FAIL_UNZIP_PAGE, "LE_InstallByCPFail", "unzip page", true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(tree() / "GameInfo.ini");
    if (!c.installing) WriteGameList();
    Open();
    Send(UM_SELFPATCH_NONEED);
    Send(UM_GAMEPATCH_UPDATING);
    SendText(UM_CURRENT_VERSION, "1.0");
    // A page download under way, with its speed and remaining time.
    Send(UM_INSTALL_TIMER_START);
    SendSize(UM_INSTALL_TOTAL_SIZE, "1000000");
    SendSize(UM_INSTALL_DONE_SIZE, "250000");
    const std::string speed = "10.0K";
    Send(UM_DOWNLOAD_SPEED, 10240, reinterpret_cast<LParam>(speed.c_str()));
    SendSize(UM_INSTALL_DONE_SIZE, "300000");
    ASSERT_EQ(Text(IDC_COUNT_LABEL), "残り時間");
    MainWindowView expected = dlg->view();
    expected.Text(IDC_STATUS) = c.installing ? "ゲームのインストールに失敗しました." : "アップデートに失敗しました。 ";
    for (int id : {IDC_COUNT_LABEL, IDC_COUNT, IDC_SPEED_LABEL, IDC_SPEED, IDC_PROGRESS_LABEL}) expected.Text(id) = "";
    expected.Text(IDC_PERCENT) = "Enterキーを押すと閉じます。";
    sink.clear();
    Send(c.id);
    EXPECT_EQ(sink.chain(), (std::vector<Event>{{c.event, c.text}}));
    EXPECT_TRUE(dlg->chainStopped()) << c.text;
    EXPECT_FALSE(dlg->ended());
    EXPECT_EQ(dlg->view(), expected) << c.text;
    dlg->OnTimer();  // the timer has stopped with the chain
    EXPECT_EQ(dlg->view(), expected) << c.text;
  }
  EXPECT_TRUE(frontEnd.questions().empty());
}

TEST_F(WorkflowTest, UnzipFailureAnsweredYesInstallsThroughTheRepair) {
  Open();
  Send(UM_SELFPATCH_NONEED);
  Send(UM_INSTALL_START);
  Send(UM_PAGES_BEGIN);
  sink.clear();
  frontEnd.Answer(1);
  Send(UM_PAGE_MISSING, 0, 2);
  EXPECT_FALSE(dlg->chainStopped());
  Send(UM_PAGE_UNZIP_FAILED, 0, 8);
  const Question question = frontEnd.questions().back();
  EXPECT_EQ(question.text, "ゲームのインストールに失敗しました。他の方法でインストールしますか？");
  EXPECT_EQ(question.statusShown, "ゲームのインストールに失敗しました.");
  EXPECT_EQ(dlg->mode(), MODE_RP_INSTALL);
  EXPECT_EQ(procedures.starts.back(), (StartCall{"repair", BackupServerBase()}));

  // The install's own result arrives after the repair has started: it is
  // reported but the chain goes on with the repair.
  Send(UM_INSTALL_FAIL_UNZIP_PAGE);
  EXPECT_FALSE(dlg->chainStopped());

  Send(UM_REPAIR_START);
  EXPECT_EQ(Text(IDC_STATUS), "ゲームイニシエータを実行中..... ");
  EXPECT_TRUE(dlg->view().startButtonEnabled);
  SendText(UM_LATEST_VERSION, "5.0");
  Send(UM_REPAIR_FILE_TOTAL, 2);
  Send(UM_REPAIR_FILE_STEP, 4, 2);
  Send(UM_REPAIR_DONE);
  EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_InstallByCPFail", "file notexist", false},
                                               {"LE_InstallByCPFail", "unzip pageinner", false},
                                               {"LE_InstallByCPFail", "unzip page", false},
                                               {"LE_StartRPInstall", "", true},
                                               {"LE_RPInstallVersion", "5.0", false},
                                               {"LE_RPInstallDown", "100.00", false},
                                               {"LE_RPInstallSuccess", "", true}}));
  EXPECT_NE(LaunchLog().find("NM_LAUNCHER_SELF_PATCH_DONE"), std::string::npos);
  EXPECT_EQ(dlg->mode(), MODE_GAME_PATCH);
  EXPECT_EQ(procedures.starts.back().operation, "patch");
}

TEST_F(WorkflowTest, UnzipFailureRefusedEndsTheWindow) {
  Open();
  Send(UM_SELFPATCH_NONEED);
  Send(UM_PAGE_UNZIP_FAILED, 0, 8);
  EXPECT_TRUE(dlg->ended());
  EXPECT_EQ(procedures.starts.back().operation, "install");
}

TEST_F(WorkflowTest, RepairFailuresReportByModeThenEndAfterTheirDialog) {
  const MessageId failures[] = {UM_REPAIR_FAIL_DOWN_VERSION,  UM_REPAIR_FAIL_READ_VERSION,
                                UM_REPAIR_FAIL_DOWN_GAMEINFO, UM_REPAIR_FAIL_CMP_GAMEINFO,
                                UM_REPAIR_FAIL_CREATE_DIR,    UM_REPAIR_FAIL_DOWN_FILE,
                                UM_REPAIR_FAIL_REPLACE_FILE,  UM_REPAIR_FAIL_REPLACE_GAMEINFO};
  const char* texts[] = {"down version", "read version", "down gameinfo",  "cmp gameinfo",
                         "create dir",   "down rpfile",  "replace rpfile", "replace gameinfo"};
  WriteGameList();
  for (size_t i = 0; i < std::size(failures); ++i) {
    // Game repair (mode 4) through the -repaire question.
    frontEnd.Answer(1);
    Open(true);
    Send(UM_SELFPATCH_NONEED);
    sink.clear();
    Send(failures[i]);
    EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_GameRepaireFail", texts[i], true}}));
    EXPECT_EQ(frontEnd.questions().back().text,
              "ゲームデータの復元に失敗しました。しばらくしてからもう一度お試しください。");
    EXPECT_EQ(frontEnd.questions().back().statusShown, "ゲームデータの復元に失敗しました!");
    EXPECT_TRUE(dlg->ended());
  }
  // Install through repair (mode 2) and a mode without repair events.
  std::filesystem::remove(tree() / "GameInfo.ini");
  frontEnd.Answer(1);
  Open();
  Send(UM_SELFPATCH_NONEED);
  Send(UM_PAGE_UNZIP_FAILED, 0, 8);
  sink.clear();
  Send(UM_REPAIR_FAIL_DOWN_FILE);
  EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_RPInstallFail", "down rpfile", true}}));
  EXPECT_TRUE(dlg->ended());
  Open();
  sink.clear();
  Send(UM_REPAIR_FAIL_DOWN_FILE);
  EXPECT_TRUE(sink.chain().empty());
  EXPECT_TRUE(dlg->ended());
}

TEST_F(WorkflowTest, PagesDoneStartsTheGamePatch) {
  WriteConfig("[update]\nupdateUrl=http://update.example\n");
  Open();
  Send(UM_SELFPATCH_NONEED);
  sink.clear();
  Send(UM_PAGES_DONE);
  Send(UM_INSTALL_DONE);
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_InstallSuccess", ""}}));
  EXPECT_EQ(procedures.starts.back(), (StartCall{"patch", "http://update.example"}));
  EXPECT_FALSE(dlg->chainStopped());
}

TEST_F(WorkflowTest, PatchUpToDateOrAppliedStartsTheGame) {
  WriteGameList();
  WriteRecordingClient();
  for (const MessageId id : {UM_GAMEPATCH_NONEED, UM_GAMEPATCH_DONE}) {
    ForgetClientRun();
    Open();
    Send(UM_SELFPATCH_NONEED);
    sink.clear();
    Send(UM_GAMEPATCH_START);
    Send(UM_GAMEPATCH_UPDATING);
    Send(UM_GAMEPATCH_DOWNLOAD_BEGIN);
    Send(id);
    EXPECT_EQ(Text(IDC_STATUS), "アップデート完了しました。");
    EXPECT_EQ(dlg->mode(), MODE_START_GAME);
    EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kGameStarted);
    EXPECT_TRUE(WaitForClient());
    EXPECT_EQ(sink.events(), (std::vector<Event>{{"LE_GameCheckUpdate", "", false},
                                                 {"LE_StartGamePatch", "", false},
                                                 {"LE_GamePatchNoNeed", "", true},
                                                 {"LE_GameStartSuccess", "", true}}));
  }
}

TEST_F(WorkflowTest, MilestonesRiseInStepsOfTenPercent) {
  WriteGameList();
  Open();
  Send(UM_SELFPATCH_NONEED);
  SendSize(UM_GAMEPATCH_TOTAL_SIZE, "100.000000");
  sink.clear();
  for (const char* done : {"5", "9.9", "10", "15", "19.99", "20.5", "55"}) SendSize(UM_GAMEPATCH_DONE_SIZE, done);
  EXPECT_EQ(sink.chain(),
            (std::vector<Event>{
                {"LE_GamePatchDown", "10.00"}, {"LE_GamePatchDown", "20.50"}, {"LE_GamePatchDown", "55.00"}}));
  // The next patch of the chain sets the mode again, which clears the milestones.
  sink.clear();
  Send(UM_GAMEPATCH_DOWNLOAD_BEGIN);
  SendSize(UM_GAMEPATCH_DONE_SIZE, "12");
  // Page downloads count in every mode, in their own slot.
  SendSize(UM_INSTALL_TOTAL_SIZE, "200");
  SendSize(UM_INSTALL_DONE_SIZE, "30");
  SendSize(UM_INSTALL_DONE_SIZE, "40");  // 20 %: not 10 over the 15 reported
  SendSize(UM_INSTALL_DONE_SIZE, "50");
  // The repair steps of the game patch mode count in the patch's slot.
  Send(UM_REPAIR_FILE_TOTAL, 1);
  Send(UM_REPAIR_FILE_STEP, 1, 1);
  Send(UM_REPAIR_FILE_STEP, 4, 1);
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_StartGamePatch", ""},
                                              {"LE_GamePatchDown", "12.00"},
                                              {"LE_CPDownPage", "15.00"},
                                              {"LE_CPDownPage", "25.00"},
                                              {"LE_GamePatchDown", "25.00"},
                                              {"LE_GamePatchDown", "100.00"}}));
}

TEST_F(WorkflowTest, MilestonesBelongToTheirModes) {
  Open();
  SendSize(UM_GAMEPATCH_TOTAL_SIZE, "100");
  SendSize(UM_GAMEPATCH_DONE_SIZE, "50");  // not in the game patch mode: no event
  Send(UM_REPAIR_FILE_TOTAL, 1);
  Send(UM_REPAIR_FILE_STEP, 2, 1);
  EXPECT_EQ(sink.chain(), (std::vector<Event>{{"LE_UpdateSelfDown", "50.00"}}));
  Send(UM_SELFPATCH_NONEED);  // no game list: page install, mode 1
  sink.clear();
  Send(UM_REPAIR_FILE_STEP, 4, 1);
  EXPECT_TRUE(sink.chain().empty());
}

TEST_F(WorkflowTest, ButtonsAndTrayIcon) {
  Open();
  dlg->OnCommand(IDC_MINIMIZE_BUTTON);
  EXPECT_TRUE(dlg->view().minimized);
  Send(UM_TRAY_NOTIFY, 1, 0x204);
  EXPECT_FALSE(dlg->view().topmost);
  Send(UM_TRAY_NOTIFY, 1, 0x201);
  EXPECT_TRUE(dlg->view().topmost);
  EXPECT_FALSE(dlg->ended());
  dlg->OnCommand(IDC_CLOSE_BUTTON);
  EXPECT_TRUE(dlg->ended());
  EXPECT_EQ(dlg->outcome(), LauncherOutcome::kStopped);
  // Nothing reacts once the window has ended.
  const MainWindowView last = dlg->view();
  Send(UM_GAMEPATCH_START);
  EXPECT_EQ(dlg->view(), last);
}

}  // namespace
}  // namespace uitest
