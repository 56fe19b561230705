// The common interface of the launcher's workflows (self-update, game repair,
// game patch, game install), the ids under which the manager registers them
// and the result codes their runs return.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "platform/MessageWindow.h"

class StopEvent;

// The families below are scoped enums whose numbers are fixed: they are
// logged, mapped to final messages and compared in tests. A number that is
// logged or passed on (a download cookie) is converted there with
// static_cast<int32_t>. Source files may write `using enum` for the short
// names.

// Keys of the manager's procedure table, walked in ascending order; a
// procedure's id is also the cookie of its downloads (its number there).
enum class ProcedureId : int32_t {
  PROC_SELF_PATCH = 1,
  PROC_GAME_REPAIR = 2,
  PROC_GAME_PATCH = 3,
  PROC_GAME_REPAIR_FLAGGED = 4,  // created and initialised, never started
  PROC_GAME_INSTALL = 5,
};

// Results of the version-list repair (self-update and game repair).
enum class RepairResult : int32_t {
  REPAIR_CANCELLED = 2,
  REPAIR_VERSION_DOWNLOAD_FAILED = 6,
  REPAIR_VERSION_UNREADABLE = 7,
  REPAIR_LIST_DOWNLOAD_FAILED = 8,
  REPAIR_LIST_UNREADABLE = 9,
  REPAIR_TEMP_FOLDER_FAILED = 10,
  REPAIR_FILE_DOWNLOAD_FAILED = 11,
  REPAIR_FILE_COPY_FAILED = 12,
  REPAIR_LIST_COPY_FAILED = 13,
  REPAIR_UP_TO_DATE = 14,
  REPAIR_FILES_REPLACED = 15,
};

// Results of the game install.
enum class InstallResult : int32_t {
  INSTALL_CANCELLED = 0,
  INSTALL_DONE = 1,
  INSTALL_VERSION_DOWNLOAD_FAILED = 2,
  INSTALL_VERSION_UNREADABLE = 3,
  INSTALL_FOLDER_FAILED = 4,
  INSTALL_DESCRIPTION_DOWNLOAD_FAILED = 5,
  INSTALL_DESCRIPTION_UNREADABLE = 6,
  INSTALL_PAGE_ENTRY_UNREADABLE = 7,
  INSTALL_PAGE_DOWNLOAD_FAILED = 8,
  INSTALL_UNPACK_FAILED = 9,
};

// Results of the game patch.
enum class PatchResult : int32_t {
  PATCH_CANCELLED = 2,
  PATCH_LOCAL_VERSION_FAILED = 8,
  PATCH_FOLDER_FAILED = 9,
  PATCH_DOWNLOAD_FAILED = 10,
  PATCH_LIST_UNREADABLE = 11,
  PATCH_NO_PATH = 12,
  PATCH_GAME_RUNNING = 13,
  PATCH_DESCRIPTION_FAILED = 14,
  PATCH_APPLY_FAILED = 15,
  PATCH_UP_TO_DATE = 16,
  PATCH_APPLIED = 17,
};

// What a run returns: a result of the procedure's own family. It is made
// from any family's result and equals only the same result of the same
// family (the families share numbers: 2 is REPAIR_CANCELLED, PATCH_CANCELLED
// and INSTALL_VERSION_DOWNLOAD_FAILED).
class ProcedureResult {
 public:
  enum class Family : int8_t { kRepair, kInstall, kPatch };

  constexpr ProcedureResult(RepairResult result) : family_(Family::kRepair), code_(static_cast<int32_t>(result)) {}
  constexpr ProcedureResult(InstallResult result) : family_(Family::kInstall), code_(static_cast<int32_t>(result)) {}
  constexpr ProcedureResult(PatchResult result) : family_(Family::kPatch), code_(static_cast<int32_t>(result)) {}

  constexpr Family family() const { return family_; }
  // The result's number.
  constexpr int32_t code() const { return code_; }

  friend constexpr bool operator==(const ProcedureResult&, const ProcedureResult&) = default;

 private:
  Family family_;
  int32_t code_;
};

// Name and number, e.g. "REPAIR_UP_TO_DATE (14)" (test traces).
void PrintTo(ProcedureId id, std::ostream* out);
void PrintTo(RepairResult result, std::ostream* out);
void PrintTo(InstallResult result, std::ostream* out);
void PrintTo(PatchResult result, std::ostream* out);
void PrintTo(const ProcedureResult& result, std::ostream* out);

// One workflow. The manager owns every procedure for the life of the process;
// it calls Init and SetServerUrl1 on the UI thread and Run on a worker thread,
// never two of them at once for one procedure. A procedure reports only
// through synchronous messages to its main window.
class ProcedureBase {
 public:
  virtual ~ProcedureBase();
  ProcedureBase(const ProcedureBase&) = delete;
  ProcedureBase& operator=(const ProcedureBase&) = delete;

  // A constant per class (the flagged game repair reports PROC_GAME_REPAIR).
  // It is also the cookie of the procedure's downloads (DownloadCookie).
  [[nodiscard]] virtual ProcedureId GetProcedureId() const = 0;

  // Stores the main window (may be null: messages then reach no window) and
  // the manager's stop event, which outlives the procedure. Subclasses
  // override it to read their keys from `configPath` and build their server
  // addresses and local paths, calling this first.
  virtual void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent);

  // The whole workflow; returns a result of the procedure's family.
  [[nodiscard]] virtual ProcedureResult Run() = 0;

  // Replaces server base 1 and the addresses derived from it.
  virtual void SetServerUrl1(std::string baseUrl) = 0;

 protected:
  ProcedureBase() = default;

  MessageWindow* MainWindow() const { return mainWindow_; }
  // GetProcedureId as the cookie that the download service passes on.
  int32_t DownloadCookie() const { return static_cast<int32_t>(GetProcedureId()); }
  // True when the stop event is signalled (a poll with zero time-out); false
  // before Init.
  bool IsStopRequested() const;

 private:
  MessageWindow* mainWindow_ = nullptr;
  StopEvent* stopEvent_ = nullptr;
};
