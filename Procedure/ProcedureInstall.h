// The installation from pages: fetches the small version file that names the
// server's current installation V, the installation description
// "intallinfo_<V>.ini" and every page (zip package) it lists into the page
// folder <temporary folder>\InstallPage_<V>, verifies each page by MD5, and
// hands the folder to the patch applier's installation operation, which
// unpacks the pages into the game. Pages already present with the right MD5
// from an interrupted run are not fetched again. The page folder is removed
// only after a successful installation.
//
// ProcedureGameInstall is this procedure with the game's configuration.
// Run executes on the manager's worker thread; messages are synchronous sends
// to the main window. Init and the setters run on the UI thread while no run
// is going on.
#pragma once

#include <cstdint>
#include <string>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ProcedureBase.h"
#include "Procedure/ServerAddressSet.h"

class ProcedureInstall : public ProcedureBase {
 public:
  ~ProcedureInstall() override;

  // Reads the procedure's server key from `configPath` (the backup base when
  // the read yields nothing), makes it base 1 and the primary base bases 2
  // and 3.
  void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) override;

  // Returns INSTALL_DONE (pages installed, page folder removed), or:
  //  2 the version file could not be downloaded from any address;
  //  3 it cannot be opened, has 64 bytes or more, or names a version with
  //    "\" or "/" (logged);
  //  4 the page folder cannot be created;
  //  5 the description could not be downloaded from any address;
  //  6 the sizing pass met an empty, short or unsafe Package entry;
  //  7 the fetch pass met one; 8 a page failed three attempts;
  //  0 the stop event was signalled before a page;
  //  9 the applier's installation did not succeed.
  ProcedureResult Run() override;

  void SetServerUrl1(std::string baseUrl) override;
  virtual void SetServerUrl2(std::string baseUrl);
  virtual void SetServerUrl3(std::string baseUrl);

 protected:
  // `paths` and `urlKey` are the subclass's fixed configuration (static
  // storage); downloads go through `download`.
  ProcedureInstall(DownloadFunction download, const ProcedurePaths& paths, const ConfigUrlKey& urlKey);

 private:
  const ProcedurePaths& paths_;
  const ConfigUrlKey& urlKey_;
  ServerAddressSet servers_;
};
