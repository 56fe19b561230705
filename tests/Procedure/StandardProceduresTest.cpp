#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Procedure/ProcedureGameInstall.h"
#include "Procedure/ProcedureGamePatch.h"
#include "Procedure/ProcedureGameRepair.h"
#include "Procedure/ProcedureManager.h"
#include "Procedure/ProcedureMessages.h"
#include "Procedure/ProcedureSelfPatch.h"
#include "Procedure/StandardProcedures.h"
#include "tests/Procedure/ProcedureRunFixture.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum ProcedureId;

namespace {

using StandardProceduresTest = ProcedureRunTest;

// The first and last final message of each workflow.
struct FinalRange {
  MessageId first;
  MessageId last;
};
constexpr FinalRange kSelfPatchFinal{UM_SELFPATCH_FAIL_DOWN_VERSION, UM_SELFPATCH_DONE};
constexpr FinalRange kGamePatchFinal{UM_GAMEPATCH_FAIL_CHECK_GAMEINFO, UM_GAMEPATCH_DONE};
constexpr FinalRange kRepairFinal{UM_REPAIR_FAIL_DOWN_VERSION, UM_REPAIR_DONE};
constexpr FinalRange kInstallFinal{UM_INSTALL_FAIL_DOWN_PAGE, UM_INSTALL_FAIL_UNZIP_PAGE};

}  // namespace

TEST_F(StandardProceduresTest, TheFactoryMakesTheFiveProceduresOfTheTable) {
  ProcedureManager manager([](ProcedureId, ProcedureManager&) { return nullptr; });
  const struct {
    ProcedureId id;
    std::function<bool(ProcedureBase*)> isExpectedClass;
    ProcedureId procedureId;
  } cases[] = {
      {PROC_SELF_PATCH, [](ProcedureBase* p) { return dynamic_cast<ProcedureSelfPatch*>(p) != nullptr; },
       PROC_SELF_PATCH},
      {PROC_GAME_REPAIR,
       [](ProcedureBase* p) {
         auto* repair = dynamic_cast<ProcedureGameRepair*>(p);
         return repair != nullptr && !repair->flaggedOnly();
       },
       PROC_GAME_REPAIR},
      {PROC_GAME_PATCH, [](ProcedureBase* p) { return dynamic_cast<ProcedureGamePatch*>(p) != nullptr; },
       PROC_GAME_PATCH},
      {PROC_GAME_REPAIR_FLAGGED,
       [](ProcedureBase* p) {
         auto* repair = dynamic_cast<ProcedureGameRepair*>(p);
         return repair != nullptr && repair->flaggedOnly();
       },
       PROC_GAME_REPAIR},
      {PROC_GAME_INSTALL, [](ProcedureBase* p) { return dynamic_cast<ProcedureGameInstall*>(p) != nullptr; },
       PROC_GAME_INSTALL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.id));
    const std::unique_ptr<ProcedureBase> procedure = MakeStandardProcedure(c.id, manager);
    EXPECT_TRUE(c.isExpectedClass(procedure.get()));
    ASSERT_NE(procedure, nullptr);
    EXPECT_EQ(procedure->GetProcedureId(), c.procedureId);
  }
  EXPECT_EQ(MakeStandardProcedure(ProcedureId{0}, manager), nullptr);
  EXPECT_EQ(MakeStandardProcedure(ProcedureId{6}, manager), nullptr);
}

// The launcher's chain through the manager with its standard procedures:
// the self-update finds the launcher current, the install puts version 1.0.1
// in place, the patch brings it to 1.0.2 and the repair finds nothing to do.
TEST_F(StandardProceduresTest, TheLauncherChainRunsThroughTheManager) {
  const VersionFiles game101 = {{"client/meadow_jp.exe", "client 1.0.1"}, {"data/a.dat", RandomBytes(5000, 1)}};
  const VersionFiles game102 = {{"client/meadow_jp.exe", "client 1.0.2"}, {"data/a.dat", RandomBytes(5000, 2)}};
  Publish({{"2", {{"TovaLauncher.exe", "launcher 2"}}}}, {{"1.0.1", game101}, {"1.0.2", game102}});
  WriteFile(Served("InstallVersion/version"), "1.0.1\r\n");
  CopyServed("LauncherVersion/Launcher_2", launcher());
  WriteFile(launcher() / "launcher.ini", "[launcher]\nlauncherUrl=" + ServerBase() + "\n");

  ProcedureManager manager(MakeStandardProcedure);
  manager.Init(main_.window());
  // Delivers the workers' messages until a final message of `range` arrives
  // (or a minute has passed) and returns it.
  const auto finalMessage = [this](FinalRange range) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    const auto found = [this, range] {
      for (const RecordedMessage& recorded : main_.messages) {
        if (recorded.message.id >= range.first && recorded.message.id <= range.last) return recorded.message.id;
      }
      return MessageId{0};
    };
    MessageLoop::RunUntil([&] { return found() != 0 || std::chrono::steady_clock::now() > deadline; });
    const MessageId id = found();
    main_.messages.clear();
    return id;
  };

  ASSERT_TRUE(manager.StartSelfPatch());
  EXPECT_EQ(finalMessage(kSelfPatchFinal), UM_SELFPATCH_NONEED);
  ASSERT_TRUE(manager.StartGameInstall(ServerBase()));
  EXPECT_EQ(finalMessage(kInstallFinal), UM_INSTALL_DONE);
  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.1")));
  ASSERT_TRUE(manager.StartGamePatch(ServerBase()));
  EXPECT_EQ(finalMessage(kGamePatchFinal), UM_GAMEPATCH_DONE);
  ASSERT_TRUE(manager.StartGameRepair(ServerBase()));
  EXPECT_EQ(finalMessage(kRepairFinal), UM_REPAIR_NONEED);

  EXPECT_EQ(FolderFiles(game(), {"launcher"}), FolderFiles(Served("GameVersion/Game_1.0.2")));
}
