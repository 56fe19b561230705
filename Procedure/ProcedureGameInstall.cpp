#include "Procedure/ProcedureGameInstall.h"

#include <utility>

ProcedureGameInstall::ProcedureGameInstall(DownloadFunction download)
    : ProcedureInstall(std::move(download), kGameInstallPaths, kInstallUrlKey) {}
