// The launcher self-update: the version-list repair of the launcher's own
// folder ".\" from base + "\LauncherVersion\", with base 1 from [launcher]
// launcherUrl (the backup base by default). Its downloads carry the cookie
// PROC_SELF_PATCH; its flagged-only switch stays off. A list that names one
// of the launcher's working files (IsLauncherWorkingName) is refused.
#pragma once

#include "Procedure/ProcedureRepair.h"

class ProcedureSelfPatch final : public ProcedureRepair {
 public:
  explicit ProcedureSelfPatch(DownloadFunction download);

  ProcedureId GetProcedureId() const override { return ProcedureId::PROC_SELF_PATCH; }

 protected:
  bool IsRefusedName(const std::string& name) const override;
};
