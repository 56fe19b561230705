// The version-list repair: brings a target folder in line with the version
// file list ("GameInfo.ini") that the update server publishes for its current
// version. It downloads the version file and that version's list, deletes the
// files the folder's own list has and the new list lacks, checks every listed
// file by size and CRC, downloads each missing or different file into a
// temporary folder, checks its MD5, copies it into place (removing first,
// with a log line, whatever of another kind stands in its way: a file where
// its folder must be, a folder where the file must be, a link), and finally
// installs the new list as the folder's own, once everything written before
// is on the disk (CommitFileList).
//
// The self-update (ProcedureSelfPatch) and the game repair
// (ProcedureGameRepair) are this procedure with their own configuration key,
// server paths and id.
//
// Run executes on the manager's worker thread; every message to the main
// window is a synchronous send, and texts passed by address are valid only
// during the send. The files of every second entry are checked ahead on a
// helper thread of the run (reading only), which ends with the run. Init and the setters run on the UI thread while no
// run is going on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureBase.h"
#include "Procedure/ServerAddressSet.h"
#include "patch/QoVersionRepairInfo.h"

class ProcedureRepair : public ProcedureBase {
 public:
  ~ProcedureRepair() override;

  // Reads the procedure's server key from `configPath` (its default when the
  // read yields nothing), makes it base 1 and the primary base bases 2 and 3.
  void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) override;

  // Returns one of REPAIR_CANCELLED .. REPAIR_FILES_REPLACED:
  //  6 the version file could not be downloaded from any address;
  //  7 it cannot be opened or has 64 bytes or more;
  //  8 the list could not be downloaded from any address;
  //  9 the downloaded list cannot be read (also when it names a file that is
  //    absolute or climbs out with "..", or, in the game folder, one in the
  //    launcher's own folder, or one that IsRefusedName refuses, or declares
  //    no version);
  // 10 the temporary folder cannot be created;
  // 11 a file failed three download attempts (no address answered, or the MD5
  //    differed); 12 a verified file could not be copied into place;
  // 13 the new list could not be copied into place;
  //  2 the stop event was signalled before an entry (after UM_REPAIR_ABORTED);
  // 14 every entry was already correct, 15 at least one file was replaced
  //    (in both cases the new list is installed).
  ProcedureResult Run() override;

  void SetServerUrl1(std::string baseUrl) override;
  // When on, only entries with a non-zero check flag are examined.
  virtual void SetFlaggedOnly(bool flaggedOnly);
  virtual void SetServerUrl2(std::string baseUrl);
  virtual void SetServerUrl3(std::string baseUrl);

  bool flaggedOnly() const { return flaggedOnly_; }
  // The list and the version of the last comparison (tests and diagnostics).
  const std::vector<VersionFileRecord>& fileList() const { return fileList_; }
  const std::string& newVersion() const { return newVersion_; }

 protected:
  // `paths` and `urlKey` are the subclass's fixed configuration (static
  // storage); downloads go through `download`.
  ProcedureRepair(DownloadFunction download, const ProcedurePaths& paths, const ConfigUrlKey& urlKey);

  // True for a name that no downloaded list may hold for the target folder:
  // such a list is refused (logged). None by default.
  virtual bool IsRefusedName(const std::string& name) const;

 private:
  // Checks every second entry's file on a helper thread during the file loop.
  class CheckAhead;

  // Reads the downloaded list and the folder's own list, reports both
  // versions, deletes the obsolete files (none in the launcher's own folder
  // when the target is the game) and keeps the sorted new list.
  // False (logged) when the downloaded list cannot be read.
  [[nodiscard]] bool CompareFileLists(const std::string& downloadedList);
  // Examines entry `index` (from 1) and replaces its file when needed; its
  // file may have been checked already by `ahead`.
  // Nothing when the entry needs nothing more, else the run's failure result.
  [[nodiscard]] std::optional<RepairResult> RepairEntry(int index, CheckAhead& ahead);
  // False for the entries the flagged-only switch leaves out.
  bool IsExamined(const VersionFileRecord& entry) const;

  const ProcedurePaths& paths_;
  const ConfigUrlKey& urlKey_;
  ServerAddressSet servers_;
  std::string newVersion_;
  std::string m_strUpdateVerLocalUnCypt;
  int32_t replacedCount_ = 0;
  bool flaggedOnly_ = false;
  std::vector<VersionFileRecord> fileList_;
};
