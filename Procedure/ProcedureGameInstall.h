// The game install: the installation from pages below base +
// "\InstallVersion\", with base 1 from [install] installUrl (the backup base
// by default) until StartGameInstall replaces it. Its downloads carry the
// cookie PROC_GAME_INSTALL.
#pragma once

#include "Procedure/ProcedureInstall.h"

class ProcedureGameInstall final : public ProcedureInstall {
 public:
  explicit ProcedureGameInstall(DownloadFunction download);

  ProcedureId GetProcedureId() const override { return ProcedureId::PROC_GAME_INSTALL; }
};
