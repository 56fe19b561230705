#include "Procedure/ProcedureBase.h"

#include <ostream>

#include "Procedure/StopEvent.h"

namespace {

const char* NameOf(ProcedureId id) {
  using enum ProcedureId;
  switch (id) {
    case PROC_SELF_PATCH: return "PROC_SELF_PATCH";
    case PROC_GAME_REPAIR: return "PROC_GAME_REPAIR";
    case PROC_GAME_PATCH: return "PROC_GAME_PATCH";
    case PROC_GAME_REPAIR_FLAGGED: return "PROC_GAME_REPAIR_FLAGGED";
    case PROC_GAME_INSTALL: return "PROC_GAME_INSTALL";
  }
  return "ProcedureId";
}

const char* NameOf(RepairResult result) {
  using enum RepairResult;
  switch (result) {
    case REPAIR_CANCELLED: return "REPAIR_CANCELLED";
    case REPAIR_VERSION_DOWNLOAD_FAILED: return "REPAIR_VERSION_DOWNLOAD_FAILED";
    case REPAIR_VERSION_UNREADABLE: return "REPAIR_VERSION_UNREADABLE";
    case REPAIR_LIST_DOWNLOAD_FAILED: return "REPAIR_LIST_DOWNLOAD_FAILED";
    case REPAIR_LIST_UNREADABLE: return "REPAIR_LIST_UNREADABLE";
    case REPAIR_TEMP_FOLDER_FAILED: return "REPAIR_TEMP_FOLDER_FAILED";
    case REPAIR_FILE_DOWNLOAD_FAILED: return "REPAIR_FILE_DOWNLOAD_FAILED";
    case REPAIR_FILE_COPY_FAILED: return "REPAIR_FILE_COPY_FAILED";
    case REPAIR_LIST_COPY_FAILED: return "REPAIR_LIST_COPY_FAILED";
    case REPAIR_UP_TO_DATE: return "REPAIR_UP_TO_DATE";
    case REPAIR_FILES_REPLACED: return "REPAIR_FILES_REPLACED";
  }
  return "RepairResult";
}

const char* NameOf(InstallResult result) {
  using enum InstallResult;
  switch (result) {
    case INSTALL_CANCELLED: return "INSTALL_CANCELLED";
    case INSTALL_DONE: return "INSTALL_DONE";
    case INSTALL_VERSION_DOWNLOAD_FAILED: return "INSTALL_VERSION_DOWNLOAD_FAILED";
    case INSTALL_VERSION_UNREADABLE: return "INSTALL_VERSION_UNREADABLE";
    case INSTALL_FOLDER_FAILED: return "INSTALL_FOLDER_FAILED";
    case INSTALL_DESCRIPTION_DOWNLOAD_FAILED: return "INSTALL_DESCRIPTION_DOWNLOAD_FAILED";
    case INSTALL_DESCRIPTION_UNREADABLE: return "INSTALL_DESCRIPTION_UNREADABLE";
    case INSTALL_PAGE_ENTRY_UNREADABLE: return "INSTALL_PAGE_ENTRY_UNREADABLE";
    case INSTALL_PAGE_DOWNLOAD_FAILED: return "INSTALL_PAGE_DOWNLOAD_FAILED";
    case INSTALL_UNPACK_FAILED: return "INSTALL_UNPACK_FAILED";
  }
  return "InstallResult";
}

const char* NameOf(PatchResult result) {
  using enum PatchResult;
  switch (result) {
    case PATCH_CANCELLED: return "PATCH_CANCELLED";
    case PATCH_LOCAL_VERSION_FAILED: return "PATCH_LOCAL_VERSION_FAILED";
    case PATCH_FOLDER_FAILED: return "PATCH_FOLDER_FAILED";
    case PATCH_DOWNLOAD_FAILED: return "PATCH_DOWNLOAD_FAILED";
    case PATCH_LIST_UNREADABLE: return "PATCH_LIST_UNREADABLE";
    case PATCH_NO_PATH: return "PATCH_NO_PATH";
    case PATCH_GAME_RUNNING: return "PATCH_GAME_RUNNING";
    case PATCH_DESCRIPTION_FAILED: return "PATCH_DESCRIPTION_FAILED";
    case PATCH_APPLY_FAILED: return "PATCH_APPLY_FAILED";
    case PATCH_UP_TO_DATE: return "PATCH_UP_TO_DATE";
    case PATCH_APPLIED: return "PATCH_APPLIED";
  }
  return "PatchResult";
}

template <typename Code>
void PrintCode(Code code, std::ostream* out) {
  *out << NameOf(code) << " (" << static_cast<int32_t>(code) << ")";
}

}  // namespace

void PrintTo(ProcedureId id, std::ostream* out) { PrintCode(id, out); }
void PrintTo(RepairResult result, std::ostream* out) { PrintCode(result, out); }
void PrintTo(InstallResult result, std::ostream* out) { PrintCode(result, out); }
void PrintTo(PatchResult result, std::ostream* out) { PrintCode(result, out); }

void PrintTo(const ProcedureResult& result, std::ostream* out) {
  switch (result.family()) {
    case ProcedureResult::Family::kRepair: return PrintTo(static_cast<RepairResult>(result.code()), out);
    case ProcedureResult::Family::kInstall: return PrintTo(static_cast<InstallResult>(result.code()), out);
    case ProcedureResult::Family::kPatch: return PrintTo(static_cast<PatchResult>(result.code()), out);
  }
}

ProcedureBase::~ProcedureBase() = default;

void ProcedureBase::Init(MessageWindow* mainWindow, const std::string&, StopEvent* stopEvent) {
  mainWindow_ = mainWindow;
  stopEvent_ = stopEvent;
}

bool ProcedureBase::IsStopRequested() const { return stopEvent_ != nullptr && stopEvent_->IsSet(); }
