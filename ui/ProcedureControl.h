// The procedure manager's operations that the main window calls, as an
// interface: the launcher passes its ProcedureManager through
// ManagerProcedureControl; tests of the window logic pass a recorder.
// Every operation is called on the window's thread.
#pragma once

#include <string>

#include "platform/MessageWindow.h"

class ProcedureManager;

class ProcedureControl {
 public:
  virtual ~ProcedureControl() = default;
  virtual void Init(MessageWindow* mainWindow) = 0;
  // False when nothing was started (see Procedure/ProcedureManager.h).
  [[nodiscard]] virtual bool StartSelfPatch() = 0;
  [[nodiscard]] virtual bool StartGamePatch(std::string baseUrl) = 0;
  [[nodiscard]] virtual bool StartGameRepair(std::string baseUrl) = 0;
  [[nodiscard]] virtual bool StartGameInstall(std::string baseUrl) = 0;
  // Stops the chain: the stop event signalled, the running download
  // abandoned, nothing started afterwards.
  virtual void Stop() = 0;
};

// Forwards to a ProcedureManager, which must outlive it.
class ManagerProcedureControl : public ProcedureControl {
 public:
  explicit ManagerProcedureControl(ProcedureManager& manager) : manager_(manager) {}
  void Init(MessageWindow* mainWindow) override;
  bool StartSelfPatch() override;
  bool StartGamePatch(std::string baseUrl) override;
  bool StartGameRepair(std::string baseUrl) override;
  bool StartGameInstall(std::string baseUrl) override;
  void Stop() override;

 private:
  ProcedureManager& manager_;
};
