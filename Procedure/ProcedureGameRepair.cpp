#include "Procedure/ProcedureGameRepair.h"

#include <utility>

ProcedureGameRepair::ProcedureGameRepair(DownloadFunction download)
    : ProcedureRepair(std::move(download), kGameRepairPaths, kGameUrlKey) {}
