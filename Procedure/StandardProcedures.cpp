#include "Procedure/StandardProcedures.h"

#include <string>
#include <utility>

#include "Procedure/ProcedureGameInstall.h"
#include "Procedure/ProcedureGamePatch.h"
#include "Procedure/ProcedureGameRepair.h"
#include "Procedure/ProcedureManager.h"
#include "Procedure/ProcedureSelfPatch.h"

namespace {

std::unique_ptr<ProcedureGameRepair> MakeGameRepair(DownloadFunction download, bool flaggedOnly) {
  auto repair = std::make_unique<ProcedureGameRepair>(std::move(download));
  repair->SetFlaggedOnly(flaggedOnly);
  return repair;
}

}  // namespace

std::unique_ptr<ProcedureBase> MakeStandardProcedure(ProcedureId id, ProcedureManager& manager) {
  DownloadFunction download = [&manager](const std::string& url, const std::string& localPath, int32_t cookie,
                                         uint64_t maxBytes) {
    return manager.DownloadFile(url, localPath, cookie, maxBytes);
  };
  using enum ProcedureId;
  switch (id) {
    case PROC_SELF_PATCH: return std::make_unique<ProcedureSelfPatch>(std::move(download));
    case PROC_GAME_REPAIR: return MakeGameRepair(std::move(download), false);
    case PROC_GAME_PATCH: return std::make_unique<ProcedureGamePatch>(std::move(download));
    case PROC_GAME_REPAIR_FLAGGED: return MakeGameRepair(std::move(download), true);
    case PROC_GAME_INSTALL: return std::make_unique<ProcedureGameInstall>(std::move(download));
  }
  return nullptr;
}
