#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <latch>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Procedure/ProcedureManager.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/ServerAddressSet.h"
#include "platform/MessageBox.h"
#include "platform/ProcessLauncher.h"
#include "tests/Procedure/LaunchLogLines.h"
#include "tests/Procedure/MainWindowRecorder.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "util/LaunchLog.h"
#include "util/ProcessLookup.h"

using namespace testsupport;
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using enum ProcedureId;
using enum RepairResult;
using enum InstallResult;
using enum PatchResult;

namespace {

// What the manager did to its procedures; it outlives the manager.
struct Journal {
  std::vector<ProcedureId> created;
  std::vector<ProcedureId> initialised;
  std::vector<std::string> configPaths;
  std::vector<MessageWindow*> windows;
  std::map<ProcedureId, std::string> baseUrls;
  // Runs by the id's number.
  std::array<std::atomic<int>, static_cast<size_t>(PROC_GAME_INSTALL) + 1> runs{};
  std::atomic<int>& RunsOf(ProcedureId id) { return runs[static_cast<size_t>(id)]; }
};

class ScriptedProcedure;
using Script = std::function<ProcedureResult(ScriptedProcedure&)>;

// A procedure whose run the test writes.
class ScriptedProcedure : public ProcedureBase {
 public:
  ScriptedProcedure(ProcedureId id, ProcedureManager& manager, Journal& journal, Script script)
      : id_(id), manager_(manager), journal_(journal), script_(std::move(script)) {}

  ProcedureId GetProcedureId() const override { return id_ == PROC_GAME_REPAIR_FLAGGED ? PROC_GAME_REPAIR : id_; }
  void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) override {
    ProcedureBase::Init(mainWindow, configPath, stopEvent);
    journal_.initialised.push_back(id_);
    journal_.configPaths.push_back(configPath);
    journal_.windows.push_back(mainWindow);
  }
  ProcedureResult Run() override {
    ++journal_.RunsOf(id_);
    return script_(*this);
  }
  void SetServerUrl1(std::string baseUrl) override { journal_.baseUrls[id_] = baseUrl; }

  ProcedureManager& manager() { return manager_; }
  using ProcedureBase::DownloadCookie;
  using ProcedureBase::IsStopRequested;

 private:
  const ProcedureId id_;
  ProcedureManager& manager_;
  Journal& journal_;
  Script script_;
};

// A result that no table lists.
constexpr ProcedureResult kUnlistedResult = static_cast<RepairResult>(99);

class ProcedureManagerTest : public testing::Test {
 protected:
  void TearDown() override { SetMessageBoxPresenter(nullptr); }

  // A manager with a scripted procedure for every id not in `absent_`,
  // initialised with the recording main window.
  std::unique_ptr<ProcedureManager> MakeManager() {
    auto manager = std::make_unique<ProcedureManager>(
        [this](ProcedureId id, ProcedureManager& owner) -> std::unique_ptr<ProcedureBase> {
          journal_.created.push_back(id);
          if (absent_.contains(id)) return nullptr;
          const auto script = scripts_.find(id);
          return std::make_unique<ScriptedProcedure>(
              id, owner, journal_,
              script != scripts_.end() ? script->second : [](ScriptedProcedure&) { return kUnlistedResult; });
        });
    manager->Init(main_.window());
    return manager;
  }

  std::vector<std::string> LogLines() const { return LaunchLogLines(work_.path()); }

  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  MainWindowRecorder main_;
  Journal journal_;
  std::map<ProcedureId, Script> scripts_;
  std::set<ProcedureId> absent_;
};

enum class StartOp { kSelfPatch, kGameRepair, kGamePatch, kGameInstall };

ProcedureId ProcedureOf(StartOp op) {
  switch (op) {
    case StartOp::kSelfPatch: return PROC_SELF_PATCH;
    case StartOp::kGameRepair: return PROC_GAME_REPAIR;
    case StartOp::kGamePatch: return PROC_GAME_PATCH;
    case StartOp::kGameInstall: return PROC_GAME_INSTALL;
  }
  return ProcedureId{};
}

bool Start(ProcedureManager& manager, StartOp op, const std::string& baseUrl) {
  switch (op) {
    case StartOp::kSelfPatch: return manager.StartSelfPatch();
    case StartOp::kGameRepair: return manager.StartGameRepair(baseUrl);
    case StartOp::kGamePatch: return manager.StartGamePatch(baseUrl);
    case StartOp::kGameInstall: return manager.StartGameInstall(baseUrl);
  }
  return false;
}

}  // namespace

TEST_F(ProcedureManagerTest, InitialisesEveryProcedureInIdOrderWithTheConfigurationFile) {
  auto manager = MakeManager();
  const std::vector<ProcedureId> ids = {PROC_SELF_PATCH, PROC_GAME_REPAIR, PROC_GAME_PATCH, PROC_GAME_REPAIR_FLAGGED,
                                        PROC_GAME_INSTALL};
  EXPECT_EQ(journal_.created, ids);
  EXPECT_EQ(journal_.initialised, ids);
  EXPECT_EQ(journal_.configPaths, std::vector<std::string>(5, ".\\launcher.ini"));
  EXPECT_EQ(journal_.windows, std::vector<MessageWindow*>(5, main_.window()));
}

// Each worker sends its start message, runs the procedure and sends the final
// message its table lists for the result, or none. The destruction of the
// manager waits for the worker and delivers its messages.
TEST_F(ProcedureManagerTest, EachResultBecomesTheFinalMessageOfItsTable) {
  using enum StartOp;
  const struct {
    StartOp op;
    ProcedureResult result;
    std::vector<MessageId> expected;
  } cases[] = {
      {kSelfPatch, REPAIR_VERSION_DOWNLOAD_FAILED, {UM_SELFPATCH_START, UM_SELFPATCH_FAIL_DOWN_VERSION}},
      {kSelfPatch, REPAIR_FILES_REPLACED, {UM_SELFPATCH_START, UM_SELFPATCH_DONE}},
      {kSelfPatch, REPAIR_CANCELLED, {UM_SELFPATCH_START}},
      // UM_REPAIR_LAUNCHED comes from the start operation itself, on this thread.
      {kGameRepair, REPAIR_LIST_COPY_FAILED, {UM_REPAIR_LAUNCHED, UM_REPAIR_START, UM_REPAIR_FAIL_REPLACE_GAMEINFO}},
      {kGameRepair, REPAIR_UP_TO_DATE, {UM_REPAIR_LAUNCHED, UM_REPAIR_START, UM_REPAIR_NONEED}},
      {kGameRepair, REPAIR_CANCELLED, {UM_REPAIR_LAUNCHED, UM_REPAIR_START}},
      {kGamePatch, PATCH_DOWNLOAD_FAILED, {UM_GAMEPATCH_START, UM_GAMEPATCH_FAIL_PATCH_FILE}},
      {kGamePatch, PATCH_LIST_UNREADABLE, {UM_GAMEPATCH_START, UM_GAMEPATCH_FAIL_ANALYSE}},
      {kGamePatch, PATCH_APPLIED, {UM_GAMEPATCH_START, UM_GAMEPATCH_DONE}},
      {kGamePatch, PATCH_CANCELLED, {UM_GAMEPATCH_START}},
      {kGamePatch, static_cast<PatchResult>(1), {UM_GAMEPATCH_START}},
      {kGameInstall, INSTALL_CANCELLED, {UM_INSTALL_START, UM_INSTALL_FAIL_USER_CANCEL}},
      {kGameInstall, INSTALL_PAGE_DOWNLOAD_FAILED, {UM_INSTALL_START, UM_INSTALL_FAIL_DOWN_PAGE}},
      {kGameInstall, INSTALL_UNPACK_FAILED, {UM_INSTALL_START, UM_INSTALL_FAIL_UNZIP_PAGE}},
      {kGameInstall, static_cast<InstallResult>(10), {UM_INSTALL_START}},
  };
  EXPECT_EQ(UM_GAMEPATCH_FAIL_PATCH_FILE, 0x4940u);
  EXPECT_EQ(UM_GAMEPATCH_FAIL_ANALYSE, 0x4941u);
  EXPECT_EQ(UM_INSTALL_FAIL_DOWN_PAGE, 0x4958u);
  for (const auto& c : cases) {
    const ProcedureId id = ProcedureOf(c.op);
    SCOPED_TRACE("procedure " + testing::PrintToString(id) + " result " + testing::PrintToString(c.result));
    main_.messages.clear();
    journal_.baseUrls.clear();
    scripts_[id] = [result = c.result](ScriptedProcedure&) { return result; };
    auto manager = MakeManager();
    const std::string baseUrl = "http://base/" + std::to_string(c.result.code());
    EXPECT_TRUE(Start(*manager, c.op, baseUrl));
    manager.reset();
    EXPECT_EQ(main_.Ids(), c.expected);
    if (id != PROC_SELF_PATCH) {
      EXPECT_EQ(journal_.baseUrls[id], baseUrl);
    }
  }
}

TEST_F(ProcedureManagerTest, TheDebugSwitchSendsNoNeedWithoutRunningTheSelfUpdate) {
  scripts_[PROC_SELF_PATCH] = [](ScriptedProcedure&) { return REPAIR_VERSION_DOWNLOAD_FAILED; };
  const struct {
    const char* config;
    std::vector<MessageId> expected;
    int runs;
  } cases[] = {
      {"[debug]\ndebug=1\n", {UM_SELFPATCH_START, UM_SELFPATCH_NONEED}, 0},
      {"[debug]\ndebug=2\n", {UM_SELFPATCH_START, UM_SELFPATCH_FAIL_DOWN_VERSION}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    WriteFile(work_.path() / "launcher.ini", c.config);
    fs::remove(work_.path() / kLaunchLogName);
    main_.messages.clear();
    journal_.RunsOf(PROC_SELF_PATCH) = 0;
    auto manager = MakeManager();
    ASSERT_TRUE(manager->StartSelfPatch());
    manager.reset();
    EXPECT_EQ(main_.Ids(), c.expected);
    EXPECT_EQ(journal_.RunsOf(PROC_SELF_PATCH), c.runs);
    EXPECT_EQ(LogLines(), c.runs == 0 ? std::vector<std::string>{"debug"} : std::vector<std::string>{});
  }
}

TEST_F(ProcedureManagerTest, StartSelfPatchRefusesWhileTheWorkerRuns) {
  std::latch release(1);
  scripts_[PROC_SELF_PATCH] = [&](ScriptedProcedure&) {
    release.wait();
    return REPAIR_UP_TO_DATE;
  };
  auto manager = MakeManager();
  EXPECT_TRUE(manager->StartSelfPatch());
  EXPECT_FALSE(manager->StartSelfPatch());
  release.count_down();
  manager.reset();
  EXPECT_EQ(journal_.RunsOf(PROC_SELF_PATCH), 1);
  EXPECT_EQ(main_.Ids(), (std::vector<MessageId>{UM_SELFPATCH_START, UM_SELFPATCH_NONEED}));
}

// The workflow's pattern: the handler of one procedure's final message starts
// the next one while the finished worker still waits in that send.
TEST_F(ProcedureManagerTest, AHandlerOfAFinalMessageStartsTheNextProcedure) {
  scripts_[PROC_SELF_PATCH] = [](ScriptedProcedure&) { return REPAIR_UP_TO_DATE; };
  scripts_[PROC_GAME_PATCH] = [](ScriptedProcedure&) { return PATCH_UP_TO_DATE; };
  auto manager = MakeManager();
  bool started = false;
  main_.onMessage = [&](const Message& message) {
    if (message.id == UM_SELFPATCH_NONEED) started = manager->StartGamePatch("http://update");
  };
  ASSERT_TRUE(manager->StartSelfPatch());
  MessageLoop::RunUntil([&] { return main_.Has(UM_GAMEPATCH_NONEED); }, milliseconds(5));
  EXPECT_TRUE(started);
  EXPECT_EQ(main_.Ids(),
            (std::vector<MessageId>{UM_SELFPATCH_START, UM_SELFPATCH_NONEED, UM_GAMEPATCH_START, UM_GAMEPATCH_NONEED}));
  EXPECT_EQ(journal_.baseUrls[PROC_GAME_PATCH], "http://update");
}

// A second start of a procedure whose run goes on would change its addresses
// under it and run it twice at once: refused. Other procedures may start, and
// an id without a procedure starts nothing.
TEST_F(ProcedureManagerTest, AProcedureIsNotStartedTwiceAtOnceAndAnEmptyIdNever) {
  absent_ = {PROC_SELF_PATCH};
  std::latch release(1);
  scripts_[PROC_GAME_PATCH] = [&](ScriptedProcedure&) {
    release.wait();
    return PATCH_APPLIED;
  };
  auto manager = MakeManager();
  EXPECT_TRUE(manager->StartGamePatch("first"));
  EXPECT_FALSE(manager->StartGamePatch("second"));
  EXPECT_TRUE(manager->StartGameInstall("install"));
  EXPECT_FALSE(manager->StartSelfPatch());
  release.count_down();
  manager.reset();
  EXPECT_EQ(journal_.baseUrls[PROC_GAME_PATCH], "first");
  EXPECT_EQ(journal_.RunsOf(PROC_GAME_PATCH), 1);
  EXPECT_EQ(journal_.RunsOf(PROC_GAME_INSTALL), 1);
  const std::vector<MessageId> ids = main_.Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), UM_GAMEPATCH_START), 1);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), UM_GAMEPATCH_DONE), 1);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), UM_INSTALL_START), 1);
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), UM_SELFPATCH_START), 0);
}

// Stop, and destroying the manager, signal the stop event; destruction waits
// for the worker. The procedure ends with its "cancelled" result, which has
// no final message; after Stop nothing starts, and downloads fail at once.
TEST_F(ProcedureManagerTest, StopAndDestructionStopTheRunningProcedure) {
  for (const bool stopFirst : {false, true}) {
    SCOPED_TRACE(stopFirst ? "Stop" : "destruction");
    main_.messages.clear();
    std::latch running(1);
    std::atomic<bool> stopSeen = false;
    std::atomic<bool> downloaded = true;
    scripts_[PROC_GAME_PATCH] = [&](ScriptedProcedure& procedure) {
      running.count_down();
      while (!procedure.IsStopRequested()) std::this_thread::yield();
      stopSeen = true;
      downloaded = procedure.manager().DownloadFile("http://127.0.0.1:1/x", "x", 3, 100);
      return PATCH_CANCELLED;
    };
    auto manager = MakeManager();
    ASSERT_TRUE(manager->StartGamePatch("http://update"));
    MessageLoop::RunUntil([&] { return running.try_wait(); }, milliseconds(5));
    if (stopFirst) {
      manager->Stop();
      MessageLoop::RunUntil([&] { return stopSeen.load(); }, milliseconds(5));
      EXPECT_FALSE(manager->StartGameInstall("http://install"));
      EXPECT_FALSE(manager->StartSelfPatch());
    }
    manager.reset();
    EXPECT_TRUE(stopSeen);
    EXPECT_FALSE(downloaded);
    EXPECT_EQ(main_.Ids(), std::vector<MessageId>{UM_GAMEPATCH_START});
  }
}

TEST_F(ProcedureManagerTest, ProceduresDownloadThroughTheManagerWithTheirIdAsCookie) {
  TempDir root;
  WriteFile(root.path() / "AutoPatch" / "AutoPatch.ini", "[AutoPatch]\nPatchNum=0\n");
  NginxServer nginx(root.path());
  scripts_[PROC_GAME_PATCH] = [&](ScriptedProcedure& procedure) {
    const bool done = procedure.manager().DownloadFile(nginx.url() + "\\AutoPatch\\AutoPatch.ini", "AutoPatch.ini",
                                                       procedure.DownloadCookie(), kListMaxBytes);
    return done ? PATCH_UP_TO_DATE : PATCH_DOWNLOAD_FAILED;
  };
  auto manager = MakeManager();
  ASSERT_TRUE(manager->StartGamePatch(nginx.url()));
  MessageLoop::RunUntil([&] { return main_.Has(UM_GAMEPATCH_NONEED) || main_.Has(UM_GAMEPATCH_FAIL_PATCH_FILE); },
                        milliseconds(5));
  manager.reset();
  EXPECT_EQ(main_.WorkflowIds(), (std::vector<MessageId>{UM_GAMEPATCH_START, UM_GAMEPATCH_NONEED}));
  EXPECT_TRUE(main_.Has(UM_DOWNLOAD_BYTES));
  EXPECT_EQ(ReadFile(work_.path() / "AutoPatch.ini"), "[AutoPatch]\nPatchNum=0\n");
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_TRUE(LogLines()[1].starts_with("start file download success : 3 AutoPatch.ini <-- " + nginx.url() +
                                        "/AutoPatch/AutoPatch.ini?rand="));
}

// A game client copied from a native program under the client's name: the
// repair asks first; "no" leaves the client running and starts nothing, "yes"
// ends it and starts the repair.
TEST_F(ProcedureManagerTest, ARunningClientIsEndedOnlyWithConsent) {
  if (OpenProcessByName("meadow_jp.exe")) GTEST_SKIP() << "another meadow_jp.exe runs on this machine";
  fs::copy_file("/bin/sleep", work_.path() / "meadow_jp.exe");
  int error = 0;
  std::unique_ptr<ProcessHandle> client = StartProcess("meadow_jp.exe 600", "", &error);
  ASSERT_NE(client, nullptr) << error;
  struct EndClient {
    ProcessHandle& client;
    ~EndClient() {
      client.Terminate();
      client.Wait(milliseconds(-1));
    }
  } endClient{*client};

  struct Asked {
    std::string text;
    std::string caption;
    MessageWindow* owner;
  };
  std::vector<Asked> asked;
  int answer = kMessageBoxNo;
  SetMessageBoxPresenter([&](const std::string& text, const std::string& caption, MessageWindow* owner) {
    asked.push_back({text, caption, owner});
    return answer;
  });
  auto manager = MakeManager();

  EXPECT_FALSE(manager->StartGameRepair("http://repair"));
  EXPECT_FALSE(client->Wait(milliseconds(0)));
  EXPECT_TRUE(main_.messages.empty());
  EXPECT_FALSE(journal_.baseUrls.contains(PROC_GAME_REPAIR));

  answer = kMessageBoxYes;
  EXPECT_TRUE(manager->StartGameRepair("http://repair"));
  EXPECT_TRUE(client->Wait(milliseconds(10000)));
  EXPECT_EQ(client->ExitCode(), 128 + SIGKILL);
  manager.reset();
  EXPECT_EQ(main_.Ids(), (std::vector<MessageId>{UM_REPAIR_LAUNCHED, UM_REPAIR_START}));
  EXPECT_EQ(journal_.RunsOf(PROC_GAME_REPAIR), 1);
  EXPECT_EQ(journal_.baseUrls[PROC_GAME_REPAIR], "http://repair");

  ASSERT_EQ(asked.size(), 2u);
  for (const Asked& question : asked) {
    EXPECT_EQ(question.text, "ゲームを起動中!\r\n終了しますか?");
    EXPECT_EQ(question.caption, "メッセージ");
    EXPECT_EQ(question.owner, main_.window());
  }
}
