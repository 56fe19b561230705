#include "Procedure/ProcedureGameRepair.h"

#include <string>
#include <utility>

#include "util/FileUtil.h"

ProcedureGameRepair::ProcedureGameRepair(DownloadFunction download)
    : ProcedureRepair(std::move(download), kGameRepairPaths, kGameUrlKey) {}

ProcedureResult ProcedureGameRepair::Run() {
  const ProcedureResult result = ProcedureRepair::Run();
  if (result == RepairResult::REPAIR_UP_TO_DATE || result == RepairResult::REPAIR_FILES_REPLACED) {
    static_cast<void>(DeleteDirectoryTree(std::string(kGamePatchPaths.tempFolder)));
  }
  return result;
}
