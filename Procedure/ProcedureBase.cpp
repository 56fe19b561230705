#include "Procedure/ProcedureBase.h"

#include "Procedure/StopEvent.h"

ProcedureBase::~ProcedureBase() = default;

void ProcedureBase::Init(MessageWindow* mainWindow, const std::string&, StopEvent* stopEvent) {
  mainWindow_ = mainWindow;
  stopEvent_ = stopEvent;
}

bool ProcedureBase::IsStopRequested() const { return stopEvent_ != nullptr && stopEvent_->IsSet(); }
