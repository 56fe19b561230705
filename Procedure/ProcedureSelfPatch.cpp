#include "Procedure/ProcedureSelfPatch.h"

#include <utility>

ProcedureSelfPatch::ProcedureSelfPatch(DownloadFunction download)
    : ProcedureRepair(std::move(download), kSelfPatchPaths, kLauncherUrlKey) {}

bool ProcedureSelfPatch::IsRefusedName(const std::string& name) const { return IsLauncherWorkingName(name); }
