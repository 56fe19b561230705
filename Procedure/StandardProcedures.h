// The launcher's procedure table: the factory that ProcedureManager is built
// with in the launcher (tests build managers with procedures of their own).
//
//   id 1 PROC_SELF_PATCH           ProcedureSelfPatch
//   id 2 PROC_GAME_REPAIR          ProcedureGameRepair, flagged-only switch off
//   id 3 PROC_GAME_PATCH           ProcedureGamePatch
//   id 4 PROC_GAME_REPAIR_FLAGGED  ProcedureGameRepair, flagged-only switch on
//                                  (initialised, never started)
//   id 5 PROC_GAME_INSTALL         ProcedureGameInstall
//
// Every procedure downloads through the manager's DownloadFile.
#pragma once

#include <cstdint>
#include <memory>

#include "Procedure/ProcedureBase.h"

class ProcedureManager;

// The procedure for `id`, or null for an id outside the table. The manager
// must outlive the procedure (it owns it).
std::unique_ptr<ProcedureBase> MakeStandardProcedure(ProcedureId id, ProcedureManager& manager);
