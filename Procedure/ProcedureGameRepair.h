// The game repair: the version-list repair of the game folder "..\" from
// base + "\GameVersion\", with base 1 from [game] gameUrl (empty by default)
// until StartGameRepair replaces it. Every instance, the flagged-only one
// included, reports PROC_GAME_REPAIR and uses it as its download cookie.
// A game brought to the server's version needs no patch downloads of earlier
// runs: they are deleted after a successful run.
#pragma once

#include "Procedure/ProcedureRepair.h"

class ProcedureGameRepair final : public ProcedureRepair {
 public:
  explicit ProcedureGameRepair(DownloadFunction download);

  ProcedureId GetProcedureId() const override { return ProcedureId::PROC_GAME_REPAIR; }
  ProcedureResult Run() override;
};
