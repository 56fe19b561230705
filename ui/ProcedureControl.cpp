#include "ui/ProcedureControl.h"

#include <utility>

#include "Procedure/ProcedureManager.h"

void ManagerProcedureControl::Init(MessageWindow* mainWindow) { manager_.Init(mainWindow); }

bool ManagerProcedureControl::StartSelfPatch() { return manager_.StartSelfPatch(); }

bool ManagerProcedureControl::StartGamePatch(std::string baseUrl) {
  return manager_.StartGamePatch(std::move(baseUrl));
}

bool ManagerProcedureControl::StartGameRepair(std::string baseUrl) {
  return manager_.StartGameRepair(std::move(baseUrl));
}

bool ManagerProcedureControl::StartGameInstall(std::string baseUrl) {
  return manager_.StartGameInstall(std::move(baseUrl));
}

void ManagerProcedureControl::Stop() { manager_.Stop(); }
