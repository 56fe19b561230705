// The common interface of the launcher's workflows (self-update, game repair,
// game patch, game install), the ids under which the manager registers them
// and the result codes their runs return.
#pragma once

#include <cstdint>
#include <string>

#include "platform/MessageWindow.h"

class StopEvent;

// Keys of the manager's procedure table, walked in ascending order.
inline constexpr int32_t PROC_SELF_PATCH = 1;
inline constexpr int32_t PROC_GAME_REPAIR = 2;
inline constexpr int32_t PROC_GAME_PATCH = 3;
inline constexpr int32_t PROC_GAME_REPAIR_FLAGGED = 4;  // created and initialised, never started
inline constexpr int32_t PROC_GAME_INSTALL = 5;

// Results of the version-list repair (self-update and game repair).
inline constexpr int32_t REPAIR_CANCELLED = 2;
inline constexpr int32_t REPAIR_VERSION_DOWNLOAD_FAILED = 6;
inline constexpr int32_t REPAIR_VERSION_UNREADABLE = 7;
inline constexpr int32_t REPAIR_LIST_DOWNLOAD_FAILED = 8;
inline constexpr int32_t REPAIR_LIST_UNREADABLE = 9;
inline constexpr int32_t REPAIR_TEMP_FOLDER_FAILED = 10;
inline constexpr int32_t REPAIR_FILE_DOWNLOAD_FAILED = 11;
inline constexpr int32_t REPAIR_FILE_COPY_FAILED = 12;
inline constexpr int32_t REPAIR_LIST_COPY_FAILED = 13;
inline constexpr int32_t REPAIR_UP_TO_DATE = 14;
inline constexpr int32_t REPAIR_FILES_REPLACED = 15;

// Results of the game install.
inline constexpr int32_t INSTALL_CANCELLED = 0;
inline constexpr int32_t INSTALL_DONE = 1;
inline constexpr int32_t INSTALL_VERSION_DOWNLOAD_FAILED = 2;
inline constexpr int32_t INSTALL_VERSION_UNREADABLE = 3;
inline constexpr int32_t INSTALL_FOLDER_FAILED = 4;
inline constexpr int32_t INSTALL_DESCRIPTION_DOWNLOAD_FAILED = 5;
inline constexpr int32_t INSTALL_DESCRIPTION_UNREADABLE = 6;
inline constexpr int32_t INSTALL_PAGE_ENTRY_UNREADABLE = 7;
inline constexpr int32_t INSTALL_PAGE_DOWNLOAD_FAILED = 8;
inline constexpr int32_t INSTALL_UNPACK_FAILED = 9;

// Results of the game patch.
inline constexpr int32_t PATCH_CANCELLED = 2;
inline constexpr int32_t PATCH_LOCAL_VERSION_FAILED = 8;
inline constexpr int32_t PATCH_FOLDER_FAILED = 9;
inline constexpr int32_t PATCH_DOWNLOAD_FAILED = 10;
inline constexpr int32_t PATCH_LIST_UNREADABLE = 11;
inline constexpr int32_t PATCH_NO_PATH = 12;
inline constexpr int32_t PATCH_GAME_RUNNING = 13;
inline constexpr int32_t PATCH_DESCRIPTION_FAILED = 14;
inline constexpr int32_t PATCH_APPLY_FAILED = 15;
inline constexpr int32_t PATCH_UP_TO_DATE = 16;
inline constexpr int32_t PATCH_APPLIED = 17;

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
  // It is also the cookie of the procedure's downloads.
  virtual int32_t GetProcedureId() const = 0;

  // Stores the main window (may be null: messages then reach no window) and
  // the manager's stop event, which outlives the procedure. Subclasses
  // override it to read their keys from `configPath` and build their server
  // addresses and local paths, calling this first.
  virtual void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent);

  // The whole workflow; returns one of the procedure's result codes.
  virtual int32_t Run() = 0;

  // Replaces server base 1 and the addresses derived from it.
  virtual void SetServerUrl1(std::string baseUrl) = 0;

 protected:
  ProcedureBase() = default;

  MessageWindow* MainWindow() const { return mainWindow_; }
  // True when the stop event is signalled (a poll with zero time-out); false
  // before Init.
  bool IsStopRequested() const;

 private:
  MessageWindow* mainWindow_ = nullptr;
  StopEvent* stopEvent_ = nullptr;
};
