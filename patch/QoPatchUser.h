// The patch applier: turns downloaded material into an updated game folder.
//
// UpdatePatchFile applies one incremental patch. It resets the staging folder
// "TempUpdata\", checks the patch against the installed version and the
// package MD5s, extracts the packages into "TempUpdata\Unzip\", rebuilds every
// new or changed file there (whole, LZMA-chunked or through a VCDIFF delta)
// and proves it by MD5, and only then copies the results into the game folder
// and deletes removed files, the new list last, once everything else is on
// the disk. InstallGamePage extracts installation pages
// straight into the game root "..\".
//
// Every phase is reported to `notifyWindow` with synchronous messages
// (UM_UPDATE_FILES_BEGIN .. UM_PAGES_DONE); text and four-integer-block
// arguments point into the applier's memory and are valid only during the
// call. Paths are in the launcher's "\" form, relative to the current folder.
// Failures are logged where they are known.
//
// One object serves one call on one procedure worker thread. LZMA expansion
// uses per-thread buffers; two appliers must not share the current folder's
// staging folder at the same time.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "patch/QoPatchInfo.h"

class MessageWindow;

// Result codes of UpdatePatchFile, CheckPatchFile and InstallGamePage. Like
// every family of codes here, a scoped enum with fixed numbers; where a
// number is logged or sent as a message argument it is converted there with
// static_cast<int32_t>. Source files may write `using enum CpUserResult;` for
// the short names.
enum class CpUserResult : int32_t {
  CP_USER_SUCCESS = 0,
  CP_USER_VERSION_MISMATCH = 1,  // installed version is not VersionOld (or it is missing)
  CP_USER_FILE_ERROR = 2,        // a folder or file is missing or cannot be made or removed
  CP_USER_COPY_ERROR = 3,        // a finished file cannot be placed in the game folder
  CP_USER_PATCHINFO_ERROR = 4,   // the description cannot be read or names an unsafe file
  CP_USER_GAMEINFO_MISSING = 5,  // the game folder has no GameInfo.ini
  CP_USER_MD5_MAKE_ERROR = 6,    // a package's MD5 cannot be computed
  CP_USER_MD5_MISMATCH = 7,      // a package's MD5 differs from the description
  CP_USER_UNZIP_ERROR = 8,       // a package cannot be extracted
  CP_USER_ANALYSIS_ERROR = 9,    // GameInfo.ini unreadable, or a file fails its analysis
};

// The name and number, e.g. "CP_USER_MD5_MISMATCH (7)" (test traces).
void PrintTo(CpUserResult result, std::ostream* out);

// The staging folders.
inline constexpr const char* kStagingFolder = "TempUpdata\\";
inline constexpr const char* kUnzipFolder = "TempUpdata\\Unzip\\";

class QoPatchUser {
 public:
  // `notifyWindow` (may be null: nothing is sent) receives the progress.
  explicit QoPatchUser(MessageWindow* notifyWindow);
  virtual ~QoPatchUser();
  QoPatchUser(const QoPatchUser&) = delete;
  QoPatchUser& operator=(const QoPatchUser&) = delete;

  // The patch: the description's file name and the folder holding it and the
  // packages. The folder is deleted after a successful UpdatePatchFile.
  void SetPatchFile(std::string patchInfoName, std::string patchFolder);
  // The installation description's path and the folder holding the pages.
  // The folder is deleted after a successful InstallGamePage.
  void SetInstallFile(std::string installInfoPath, std::string installPageFolder);
  // The installed game's folder ("..\" in the launcher).
  void SetGameFolder(std::string gameFolder) { gameFolder_ = std::move(gameFolder); }

  // Applies the patch; CP_USER_SUCCESS or the code of the first failure, which
  // is also sent with UM_UPDATE_FILES_FAILED. Files whose work files would
  // meet in the staging folder (FindStagingConflict) are refused with
  // CP_USER_PATCHINFO_ERROR once the packages are extracted. Until the copy
  // phase the game folder is untouched; a failure in the copy phase leaves
  // what was copied or deleted so far in place. After a failure the staging
  // folder is left empty.
  [[nodiscard]] CpUserResult UpdatePatchFile();

  // Checks the patch before anything is extracted: names and files present,
  // description readable, installed version equal to VersionOld, no file in
  // the launcher's own folder (LauncherFolderGuard), package MD5s equal
  // (exact, case-sensitive) to the description. Fills versions and packages.
  // The downloaded description is not changed (a copy is read).
  [[nodiscard]] CpUserResult CheckPatchFile();

  // Extracts every page of the installation description into "..\".
  // CP_USER_SUCCESS; CP_USER_PATCHINFO_ERROR (UM_PAGE_UNZIP_FAILED) when the
  // description cannot be read; CP_USER_FILE_ERROR (UM_PAGE_MISSING) for a
  // missing page; CP_USER_UNZIP_ERROR (UM_PAGE_UNZIP_FAILED) for a page that
  // cannot be extracted (UnzipPackage: also one that declares more than the
  // free space). The list a page brings ("GameInfo.ini") is held back in
  // the page folder and put in place last, once every extracted file is on
  // the disk (CommitFileList; its failure counts as CP_USER_UNZIP_ERROR).
  // After a failure, the files the installation extracted that the installed
  // list "..\GameInfo.ini" does not name are removed again.
  [[nodiscard]] CpUserResult InstallGamePage();

  // True when the file's first four bytes are "LZMA". False (logged) when it
  // cannot be opened or holds fewer than 12 bytes.
  [[nodiscard]] bool CheckIsLzma(const std::string& path);

  // Expands the LZMA chunk container "TempUpdata\Unzip\" + fileName in place,
  // through the work file "TempUpdata\Unzip\Temp\" + fileName (left there).
  // False when the name is empty (logged), a file cannot be opened or made, a
  // record does not start with "LZMA", is shorter than its 17-byte header,
  // runs past the end of the file, is longer than a record of
  // kLzmaRecordMaxDecodedLength bytes can be, declares more than that many
  // bytes or cannot be decoded, or the result cannot be written or put in
  // place. Before the decoded file is put in place the source is untouched.
  [[nodiscard]] bool DoUnLzma(const std::string& fileName);

  // Writes the payload of the analysis file `source` to `target` (markers
  // removed) and sets m_bUserXdel when it is a delta. False when a path is
  // empty, `source` is missing or its size unknown, or `target` cannot be
  // written whole.
  [[nodiscard]] bool DoAnalysisFile(const std::string& source, const std::string& target);

  // A new file: prepares "TempUpdata\" + name from the unzipped file (LZMA
  // expanded, markers removed) and checks its MD5 against m_md5Check. False
  // (logged) on any failure.
  [[nodiscard]] bool AnalysisFileNew(const PatchFileInfo& fileInfo);

  // A changed file: rebuilds "TempUpdata\Unzip\" + name from the unzipped
  // file, whole or as a delta against the installed file (whose MD5 must be
  // sourceMd5), and checks its MD5 against m_md5Check. False (logged) on any
  // failure; the game folder is only read.
  [[nodiscard]] bool AnalysisFileUpdate(const PatchFileInfo& fileInfo);

  const std::string& versionOld() const { return versionOld_; }
  const std::string& versionNew() const { return versionNew_; }
  const std::vector<PackageInfo>& packages() const { return packages_; }
  bool m_bUserXdel() const { return m_bUserXdel_ != 0; }

 private:
  void Send(uint32_t id, uintptr_t wParam, intptr_t lParam) const;
  void SendBlock(uint32_t id, int32_t first, int32_t second, int32_t third, int32_t fourth) const;
  void SendStep(const std::string& name, int index) const;
  // Sends UM_UPDATE_FILES_FAILED with `code`; returns it.
  CpUserResult Fail(CpUserResult code) const;
  void CountFiles();
  [[nodiscard]] CpUserResult ExtractPackages(int& step);
  [[nodiscard]] CpUserResult AnalyseFiles(int& step);
  // Places every finished file and makes the deletions, the new list last
  // (CommitFileList).
  [[nodiscard]] CpUserResult CopyFiles();
  // Reports that the finished `file` could not be placed; CP_USER_COPY_ERROR.
  CpUserResult FailCopy(const PatchFileInfo& file) const;
  // Reports that the page (or the held list) at `path` could not be put in
  // place and removes the unlisted files extracted so far;
  // CP_USER_UNZIP_ERROR.
  CpUserResult FailPage(const std::string& path, const std::vector<std::string>& extracted) const;

  MessageWindow* notifyWindow_;
  std::string gameFolder_;
  std::string patchInfoName_;
  std::string patchFolder_;
  std::string versionOld_;
  std::string versionNew_;
  int32_t m_bUserXdel_ = 0;
  std::vector<PackageInfo> packages_;
  int32_t totalFiles_ = 0;
  int32_t newFiles_ = 0;
  int32_t updateFiles_ = 0;
  int32_t deleteFiles_ = 0;
  std::string installInfoPath_;
  std::string installPageFolder_;
};
