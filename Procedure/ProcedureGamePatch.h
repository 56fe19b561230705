// The game patch: brings the installed game from the version its own list
// "..\GameInfo.ini" declares to the version the server's patch list
// "AutoPatch.ini" calls current, through the chain of incremental patches
// that starts at the installed version. For each patch it downloads the
// description "patchinfo_<F>_<T>.ini" and the packages into
// "temp_patch\AutoPatch_<F>_<T>", verifies every package by MD5 and hands the
// folder to the patch applier, which changes the game files. Before the first
// patch a running game client is ended after the user agrees.
//
// Base 1 comes from [game] gameUrl until StartGamePatch replaces it; bases 2
// and 3 are the primary base. Its downloads carry the cookie PROC_GAME_PATCH.
//
// Run executes on the manager's worker thread; messages are synchronous sends
// to the main window and the question about the running client is asked from
// that thread. Init and the setters run on the UI thread while no run is
// going on.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Procedure/ProcedureBase.h"
#include "Procedure/ServerAddressSet.h"

class ProcedureGamePatch final : public ProcedureBase {
 public:
  // One usable "Patch_<i>" section of the patch list.
  struct PatchEntry {
    std::string strVerFrom;
    std::string versionTo;
  };

  explicit ProcedureGamePatch(DownloadFunction download);
  ~ProcedureGamePatch() override;

  ProcedureId GetProcedureId() const override { return ProcedureId::PROC_GAME_PATCH; }
  void Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) override;

  // Returns PATCH_APPLIED (every patch of the chain applied) or
  // PATCH_UP_TO_DATE (no chain, and the installed version is the current
  // one), or:
  //  8 "..\GameInfo.ini" is missing, unreadable or declares no version;
  //  9 the folder of the patch list or of a patch cannot be created;
  // 10 the patch list could not be downloaded from any address, or a package
  //    failed three attempts;
  // 11 the patch list has no positive PatchNum, no VersionNow, or a version
  //    with "\" or "/" (logged);
  // 12 no patch starts at the installed version, which is not the current one;
  // 13 the game client runs and the user declined to end it, or it could not
  //    be ended;
  // 14 a description could not be downloaded, does not match its patch, or
  //    has an empty, short or unsafe Package entry;
  //  2 the stop event was signalled before a package;
  // 15 the applier did not succeed. Patches applied before stay applied.
  ProcedureResult Run() override;

  void SetServerUrl1(std::string baseUrl) override;
  virtual void SetServerUrl2(std::string baseUrl);
  virtual void SetServerUrl3(std::string baseUrl);

  // Reads the installed version from "..\GameInfo.ini" into m_strLocalVersion.
  // False (logged) when the file is missing, unreadable or names no version.
  [[nodiscard]] bool ParseVersionNow();
  // Reads the downloaded patch list: the current version, the patch table
  // (a later section with the same VersionFrom replaces an earlier one;
  // sections without VersionFrom or VersionTo are skipped) and the chain from
  // m_strLocalVersion, each entry used at most once so that a cycle ends the
  // walk. False (logged) when PatchNum is not positive, VersionNow is empty,
  // or a version holds "\" or "/". The chain may be empty or end elsewhere
  // than at the current version.
  [[nodiscard]] bool ParseAllPatchList();

  const std::string& localVersion() const { return m_strLocalVersion; }
  const std::string& nowVersion() const { return m_strNowVersion; }
  const std::vector<PatchEntry>& chain() const { return chain_; }

 private:
  // Downloads, checks and applies one patch of the chain; nothing when
  // applied, else the run's failure result.
  [[nodiscard]] std::optional<PatchResult> ApplyPatch(const PatchEntry& patch);
  // Deletes the download folders of patches that are not in the chain (an
  // earlier run could not delete them after their patch, or ended before a
  // repair took the game past them) and the installation's pages (an
  // installation that failed after its list was in place left them; the
  // game is installed now). Nothing else reaches them again.
  void DeleteStaleDownloads() const;

  ServerAddressSet servers_;
  std::vector<PatchEntry> chain_;
  std::map<std::string, PatchEntry> table_;
  std::string m_strLocalVersion;
  std::string m_strNowVersion;
};
