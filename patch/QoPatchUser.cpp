#include "patch/QoPatchUser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <ostream>
#include <set>
#include <utility>

#include "patch/AnalysisRecord.h"
#include "patch/PatchMessages.h"
#include "patch/QoPatcher_xdelta.h"
#include "patch/QoVersionRepairInfo.h"
#include "patch/SafeName.h"
#include "patch/StagingNames.h"
#include "patch/UnzipPackage.h"
#include "patch/checksum/QoChecksum.h"
#include "platform/MessageWindow.h"
#include "platform/SystemPath.h"
#include "util/FileTransfer.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"
#include "util/LzmaRecord.h"

using enum CpUserResult;

namespace {

constexpr const char* kSourceName = "patch\\QoPatchUser.cpp";
constexpr const char* kGameInfoName = "GameInfo.ini";
constexpr const char* kLzmaWorkFolder = "Temp";
constexpr const char* kInstallRoot = "..\\";

// Log line numbers.
constexpr int kLinePatchNotSet = 29;
constexpr int kLineUnsafePatchName = 36;
constexpr int kLinePatchInfoMissing = 44;
constexpr int kLinePatchInfoError = 57;
constexpr int kLineGameInfoMissing = 69;
constexpr int kLineVersionMismatch = 89;
constexpr int kLineLauncherFolderName = 98;
constexpr int kLinePackageMissing = 107;
constexpr int kLinePackageMd5Make = 116;
constexpr int kLinePackageMd5Mismatch = 125;
constexpr int kLineStagingCreate = 154;
constexpr int kLineStagingDelete = 169;
constexpr int kLineUnzipPackageMissing = 253;
constexpr int kLineUnzipFolder = 263;
constexpr int kLineUnzipError = 272;
constexpr int kLineStagingConflict = 280;
constexpr int kLineNewFolder = 379;
constexpr int kLineNewCopy = 390;
constexpr int kLineUpdateFolder = 406;
constexpr int kLineUpdateDelete = 415;
constexpr int kLineUpdateCopy = 425;
constexpr int kLineDelete = 440;
constexpr int kLineStagingCleanup = 462;
constexpr int kLinePatchSuccess = 471;
constexpr int kLineInstallInfoError = 522;
constexpr int kLinePageMissing = 536;
constexpr int kLinePageUnzip = 546;
constexpr int kLineInstallSuccess = 557;
constexpr int kLineCheckLzmaOpen = 575;
constexpr int kLineCheckLzmaRead = 591;
constexpr int kLineUnLzmaName = 611;
constexpr int kLineNewExist = 830;
constexpr int kLineNewUnLzma = 841;
constexpr int kLineNewAnalysis = 851;
constexpr int kLineNewMd5Make = 861;
constexpr int kLineNewMd5 = 870;
constexpr int kLineUpdateExist = 902;
constexpr int kLineUpdateUnLzma = 913;
constexpr int kLineUpdateAnalysis = 923;
constexpr int kLineSourceMd5Make = 936;
constexpr int kLineSourceMd5 = 945;
constexpr int kLineDelta = 956;
constexpr int kLineReplaceDelete = 969;
constexpr int kLineReplaceCopy = 979;
constexpr int kLineUpdateMd5Make = 990;
constexpr int kLineUpdateMd5 = 1000;

// Enough of a record's head to see its magic and its length.
constexpr size_t kLzmaProbe = kLzmaRecordLengthOffset + 4;

const char* CpUserResultName(CpUserResult result) {
  switch (result) {
    case CP_USER_SUCCESS: return "CP_USER_SUCCESS";
    case CP_USER_VERSION_MISMATCH: return "CP_USER_VERSION_MISMATCH";
    case CP_USER_FILE_ERROR: return "CP_USER_FILE_ERROR";
    case CP_USER_COPY_ERROR: return "CP_USER_COPY_ERROR";
    case CP_USER_PATCHINFO_ERROR: return "CP_USER_PATCHINFO_ERROR";
    case CP_USER_GAMEINFO_MISSING: return "CP_USER_GAMEINFO_MISSING";
    case CP_USER_MD5_MAKE_ERROR: return "CP_USER_MD5_MAKE_ERROR";
    case CP_USER_MD5_MISMATCH: return "CP_USER_MD5_MISMATCH";
    case CP_USER_UNZIP_ERROR: return "CP_USER_UNZIP_ERROR";
    case CP_USER_ANALYSIS_ERROR: return "CP_USER_ANALYSIS_ERROR";
  }
  return "CpUserResult";
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

[[nodiscard]] bool MakeMd5(const std::string& path, std::string& md5) {
  md5.clear();
  return GetMd5Checksum().MakeFileHex(path, md5);
}

// Decodes every record of the container `in` (of `total` bytes) and appends
// the decoded bytes to `out`. Each record is read whole into memory.
[[nodiscard]] bool DecodeLzmaRecords(int in, int64_t total, int out) {
  std::vector<uint8_t> record;
  int64_t position = 0;
  while (position != total) {
    uint8_t probe[kLzmaProbe];
    if (pread(in, probe, sizeof probe, position) != static_cast<ssize_t>(sizeof probe)) return false;
    if (!HasLzmaRecordMagic(probe, sizeof probe)) return false;
    uint32_t recordLength = ReadLittleEndian32(probe + kLzmaRecordLengthOffset);
    if (recordLength < kLzmaRecordHeaderSize || recordLength > total - position || recordLength > kLzmaRecordMaxLength)
      return false;
    record.resize(recordLength);
    if (pread(in, record.data(), recordLength, position) != static_cast<ssize_t>(recordLength)) return false;
    const uint8_t* decoded = nullptr;
    size_t decodedLength = 0;
    if (!UnLzmaBuffer(record.data(), recordLength, &decoded, &decodedLength)) return false;
    if (!WriteFileBytes(out, decoded, decodedLength)) return false;
    position += recordLength;
  }
  return true;
}

// Why files of the patch would meet in the staging folder; empty when none
// do. Whether a file is expanded through an LZMA work copy is known from its
// unzipped copy, tested as CheckIsLzma tests it but without logging.
std::string FindStagingConflict(const std::vector<PackageInfo>& packages) {
  std::vector<StagedFile> staged;
  for (const PackageInfo& package : packages) {
    for (const PatchFileInfo& file : package.files) {
      if (file.fileType != PATCH_FILE_NEW && file.fileType != PATCH_FILE_UPDATE) continue;
      UniqueFd unzipped = OpenForReading(kUnzipFolder + file.fileName);
      uint8_t probe[kLzmaProbe];
      const bool lzma = unzipped.valid() && pread(unzipped.get(), probe, sizeof probe, 0) == sizeof probe &&
                        HasLzmaRecordMagic(probe, sizeof probe);
      staged.push_back({file.fileName, lzma});
    }
  }
  return FindStagingConflict(staged);
}

// Where the patch leaves a new or changed file ready for the game folder:
// a new file's payload in the staging folder, a changed file rebuilt where it
// was unzipped.
std::string FinishedFile(const PatchFileInfo& file) {
  return (file.fileType == PATCH_FILE_NEW ? kStagingFolder : kUnzipFolder) + file.fileName;
}

// The entry that brings the new version's list into the game folder.
bool IsNewFileList(const PatchFileInfo& file) {
  return file.fileName == kGameInfoName && (file.fileType == PATCH_FILE_NEW || file.fileType == PATCH_FILE_UPDATE);
}

// Empties the staging folder after a failed patch: what the patch staged
// could fill the disk, and every later download checks the free space first.
// The folder itself stays, as a failure leaves it.
void EmptyStagingFolder() {
  if (IsPathExist(kStagingFolder) && DeleteDirectoryTree(kStagingFolder)) {
    // A staging folder that cannot be made again is made by the next patch.
    static_cast<void>(CreateDirectoryForPath(kStagingFolder, false));
  }
}

// After a failed installation, removes what it extracted into the game root
// that the installed list does not name. The installation's own list is
// held back until every page is in, so no list claims a version that is not
// complete.
void RemoveUnlisted(const std::vector<std::string>& extracted) {
  QoVersionRepairInfo list(nullptr);
  std::set<std::string> named;
  if (list.InputVerRepairFileList(std::string(kInstallRoot) + kGameInfoName)) {
    for (const VersionFileRecord& file : list.files()) named.insert(FileSystemName(file.fileName));
  }
  int removed = 0;
  for (const std::string& name : extracted) {
    if (named.count(FileSystemName(name)) == 0 && DeleteFile(kInstallRoot + name, ReadOnlyFile::kDelete)) ++removed;
  }
  if (removed != 0) WriteLaunchLog("Failed installation, extracted files removed: %d", removed);
}

// The execute bits of an installed file, carried over to its replacement (a
// native game client must stay runnable). 0 when the file is absent.
mode_t ExecuteBits(const std::string& path) {
  struct stat info {};
  if (stat(ToSystemPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH);
}

[[nodiscard]] bool AddExecuteBits(const std::string& path, mode_t bits) {
  if (bits == 0) return true;
  std::string systemPath = ToSystemPath(path);
  struct stat info {};
  return stat(systemPath.c_str(), &info) == 0 && chmod(systemPath.c_str(), (info.st_mode & 07777) | bits) == 0;
}

}  // namespace

void PrintTo(CpUserResult result, std::ostream* out) {
  *out << CpUserResultName(result) << " (" << static_cast<int32_t>(result) << ")";
}

QoPatchUser::QoPatchUser(MessageWindow* notifyWindow) : notifyWindow_(notifyWindow) {}

QoPatchUser::~QoPatchUser() = default;

void QoPatchUser::SetPatchFile(std::string patchInfoName, std::string patchFolder) {
  patchInfoName_ = std::move(patchInfoName);
  patchFolder_ = std::move(patchFolder);
}

void QoPatchUser::SetInstallFile(std::string installInfoPath, std::string installPageFolder) {
  installInfoPath_ = std::move(installInfoPath);
  installPageFolder_ = std::move(installPageFolder);
}

void QoPatchUser::Send(uint32_t id, uintptr_t wParam, intptr_t lParam) const {
  if (notifyWindow_ != nullptr) SendMessageTo(notifyWindow_, id, wParam, lParam);
}

void QoPatchUser::SendBlock(uint32_t id, int32_t first, int32_t second, int32_t third, int32_t fourth) const {
  std::array<int32_t, 4> block = {first, second, third, fourth};
  Send(id, 0, reinterpret_cast<intptr_t>(block.data()));
}

void QoPatchUser::SendStep(const std::string& name, int index) const {
  Send(UM_UPDATE_FILE_NAME, 0, reinterpret_cast<intptr_t>(name.c_str()));
  Send(UM_UPDATE_FILE_INDEX, 0, index);
}

CpUserResult QoPatchUser::Fail(CpUserResult code) const {
  Send(UM_UPDATE_FILES_FAILED, 0, static_cast<int32_t>(code));
  return code;
}

CpUserResult QoPatchUser::CheckPatchFile() {
  if (patchFolder_.empty() || patchInfoName_.empty()) {
    WriteSourceLineLog(kSourceName, kLinePatchNotSet, "patchFileDir=%s,patchInfoFile =%s not found",
                       patchFolder_.c_str(), patchInfoName_.c_str());
    return CP_USER_FILE_ERROR;
  }
  // The description's name comes from a downloaded list; it must stay in the
  // patch folder.
  if (!IsSafeRelativeName(patchInfoName_)) {
    WriteSourceLineLog(kSourceName, kLineUnsafePatchName, "patchInfoFile =%s unsafe name", patchInfoName_.c_str());
    return CP_USER_PATCHINFO_ERROR;
  }
  const std::string description = Join(patchFolder_, patchInfoName_);
  if (!IsPathExist(description)) {
    WriteSourceLineLog(kSourceName, kLinePatchInfoMissing, "patchFile=%s not found", description.c_str());
    return CP_USER_FILE_ERROR;
  }

  // A copy is read, so the downloaded description keeps its form.
  QoPatchInfo info;
  const std::string copy = NewVersionListTempFile();
  int read = -1;
  if (!copy.empty()) {
    // A failed copy must not leave an older file of that name to be read.
    if (CopyFileOverwrite(description, copy)) read = info.InputPatchInfoFile(copy);
    DeleteFile(copy, ReadOnlyFile::kDelete);
  }
  if (read != 0) {
    WriteSourceLineLog(kSourceName, kLinePatchInfoError, "InputPatchInfoFile error ,patchFile=%s", description.c_str());
    return CP_USER_PATCHINFO_ERROR;
  }
  versionOld_ = info.versionOld();

  const std::string gameInfo = Join(gameFolder_, kGameInfoName);
  if (!IsPathExist(gameInfo)) {
    WriteSourceLineLog(kSourceName, kLineGameInfoMissing, "Cant Find GameInfo.ini,PathofGameInfo=%s", gameInfo.c_str());
    return CP_USER_GAMEINFO_MISSING;
  }
  QoVersionRepairInfo installed(nullptr);
  if (!installed.InputVerRepairFileList(gameInfo)) return CP_USER_ANALYSIS_ERROR;
  // A description without VersionOld fits no installed version.
  if (versionOld_.empty() || installed.version() != versionOld_) {
    WriteSourceLineLog(kSourceName, kLineVersionMismatch, "GameVersion not mate,GameVersion=%s,updateVersion=%s",
                       installed.version().c_str(), versionOld_.c_str());
    return CP_USER_VERSION_MISMATCH;
  }

  versionNew_ = info.versionNew();
  packages_ = info.packages();
  // The launcher's own files belong to the self-update.
  const LauncherFolderGuard launcherFolder(gameFolder_);
  for (const PackageInfo& package : packages_) {
    for (const PatchFileInfo& file : package.files) {
      if (launcherFolder.Enters(file.fileName)) {
        WriteSourceLineLog(kSourceName, kLineLauncherFolderName, "PatchFile in the launcher folder,File=%s",
                           file.fileName.c_str());
        return CP_USER_PATCHINFO_ERROR;
      }
    }
  }
  for (const PackageInfo& package : packages_) {
    const std::string path = Join(patchFolder_, package.fileName);
    if (!IsPathExist(path)) {
      WriteSourceLineLog(kSourceName, kLinePackageMissing, "UpdatePackge cant find,Package=%s", path.c_str());
      return CP_USER_FILE_ERROR;
    }
    std::string md5;
    if (!MakeMd5(path, md5)) {
      WriteSourceLineLog(kSourceName, kLinePackageMd5Make, "UpdatePackge MD5 Make error,Package=%s", path.c_str());
      return CP_USER_MD5_MAKE_ERROR;
    }
    if (md5 != package.packageMd5) {
      WriteSourceLineLog(kSourceName, kLinePackageMd5Mismatch, "Package Md5 not mate loaclMD5=%s,updateMd5=%s",
                         md5.c_str(), package.packageMd5.c_str());
      return CP_USER_MD5_MISMATCH;
    }
  }
  return CP_USER_SUCCESS;
}

void QoPatchUser::CountFiles() {
  newFiles_ = updateFiles_ = deleteFiles_ = 0;
  for (const PackageInfo& package : packages_) {
    for (const PatchFileInfo& file : package.files) {
      if (file.fileType == PATCH_FILE_NEW) ++newFiles_;
      if (file.fileType == PATCH_FILE_UPDATE) ++updateFiles_;
      if (file.fileType == PATCH_FILE_DELETE) ++deleteFiles_;
    }
  }
  totalFiles_ = newFiles_ + updateFiles_ + deleteFiles_;
}

CpUserResult QoPatchUser::ExtractPackages(int& step) {
  for (const PackageInfo& package : packages_) {
    SendStep(package.fileName, ++step);
    const std::string path = Join(patchFolder_, package.fileName);
    if (!IsPathExist(path)) {
      Fail(CP_USER_FILE_ERROR);
      WriteSourceLineLog(kSourceName, kLineUnzipPackageMissing, "Unzip Error Packahe not find  Package =%s",
                         path.c_str());
      return CP_USER_FILE_ERROR;
    }
    if (!CreateDirectoryForPath(kUnzipFolder, false)) {
      Fail(CP_USER_FILE_ERROR);
      WriteSourceLineLog(kSourceName, kLineUnzipFolder, "Unzip Error, CreateFileDir Error  Path =%s", kUnzipFolder);
      return CP_USER_FILE_ERROR;
    }
    if (!UnzipPackage(path, kUnzipFolder)) {
      Fail(CP_USER_UNZIP_ERROR);
      WriteSourceLineLog(kSourceName, kLineUnzipError, "Unzip Error, UnComPress Error  Path =%s", path.c_str());
      return CP_USER_UNZIP_ERROR;
    }
  }
  return CP_USER_SUCCESS;
}

CpUserResult QoPatchUser::AnalyseFiles(int& step) {
  for (const PackageInfo& package : packages_) {
    for (const PatchFileInfo& file : package.files) {
      SendStep(file.fileName, ++step);
      bool ok = true;
      if (file.fileType == PATCH_FILE_NEW) ok = AnalysisFileNew(file);
      if (file.fileType == PATCH_FILE_UPDATE) ok = AnalysisFileUpdate(file);
      if (!ok) return Fail(CP_USER_ANALYSIS_ERROR);
    }
  }
  return CP_USER_SUCCESS;
}

CpUserResult QoPatchUser::CopyFiles() {
  int step = 0;
  const PatchFileInfo* list = nullptr;
  for (const PackageInfo& package : packages_) {
    for (const PatchFileInfo& file : package.files) {
      SendStep(file.fileName, ++step);
      if (IsNewFileList(file)) {
        list = &file;
        continue;
      }
      const std::string target = Join(gameFolder_, file.fileName);
      if (file.fileType == PATCH_FILE_DELETE) {
        if (!DeleteFile(target)) {
          Fail(CP_USER_FILE_ERROR);
          WriteSourceLineLog(kSourceName, kLineDelete, "Analysis Error,DeleteFile error  Path =%s", target.c_str());
          return CP_USER_FILE_ERROR;
        }
        continue;
      }
      if (file.fileType != PATCH_FILE_NEW && file.fileType != PATCH_FILE_UPDATE) continue;

      const bool isNew = file.fileType == PATCH_FILE_NEW;
      const std::string source = FinishedFile(file);
      const mode_t executeBits = ExecuteBits(target);
      // The copy below replaces whatever is left; its failure is reported.
      if (isNew && IsPathExist(target)) static_cast<void>(DeleteFile(target));
      if (!CreateDirectoryForPath(target, true)) {
        Fail(CP_USER_FILE_ERROR);
        WriteSourceLineLog(kSourceName, isNew ? kLineNewFolder : kLineUpdateFolder,
                           "Analysis Error,CreateFileDir error  Path =%s", target.c_str());
        return CP_USER_FILE_ERROR;
      }
      if (!isNew && !DeleteFile(target)) {
        Fail(CP_USER_FILE_ERROR);
        WriteSourceLineLog(kSourceName, kLineUpdateDelete, "Analysis Error,DeleteFile error  Path =%s", target.c_str());
        return CP_USER_FILE_ERROR;
      }
      // The staging file is deleted once the copy phase is over, so the game
      // file may take over its data instead of a copy of it.
      if (!LinkOrCopyFile(source, target) || !AddExecuteBits(target, executeBits)) return FailCopy(file);
    }
  }
  // The new list replaces the old one only once every other file of the
  // patch is on the disk: after a power cut the game holds the old version's
  // list or the new version whole.
  if (list != nullptr && !CommitFileList(FinishedFile(*list), Join(gameFolder_, list->fileName))) {
    return FailCopy(*list);
  }
  return CP_USER_SUCCESS;
}

CpUserResult QoPatchUser::FailCopy(const PatchFileInfo& file) const {
  Fail(CP_USER_COPY_ERROR);
  WriteSourceLineLog(kSourceName, file.fileType == PATCH_FILE_NEW ? kLineNewCopy : kLineUpdateCopy,
                     "Analysis Error,MoveFile error  Path =%s", FinishedFile(file).c_str());
  return CP_USER_COPY_ERROR;
}

CpUserResult QoPatchUser::UpdatePatchFile() {
  WriteLaunchLog("Start UpdatePatchFile");
  Send(UM_UPDATE_FILES_BEGIN, 0, 0);

  // Whatever an earlier run left in the staging folder goes first.
  if (!CreateDirectoryForPath(kStagingFolder, false)) {
    WriteSourceLineLog(kSourceName, kLineStagingCreate, "Create File Dir Error ,FileDir=%s open error   ",
                       kStagingFolder);
    return Fail(CP_USER_FILE_ERROR);
  }
  if (!DeleteDirectoryTree(kStagingFolder)) {
    Fail(CP_USER_FILE_ERROR);
    WriteSourceLineLog(kSourceName, kLineStagingDelete, "Delete Dir ,Dir=%s open error   ", kStagingFolder);
    return CP_USER_FILE_ERROR;
  }
  // However the patch ends from here, nothing staged stays behind (after a
  // success the staging folder is gone already).
  struct StagingEmptier {
    ~StagingEmptier() { EmptyStagingFolder(); }
  } emptier;

  if (CpUserResult result = CheckPatchFile(); result != CP_USER_SUCCESS) return Fail(result);
  CountFiles();

  WriteLaunchLog("Start Unzip");
  SendBlock(UM_UPDATE_FILE_TOTAL, static_cast<int32_t>(packages_.size()) + totalFiles_, newFiles_, updateFiles_,
            deleteFiles_);
  Send(UM_UPDATE_UNPACK_BEGIN, 0, 0);
  int step = 0;
  if (CpUserResult result = ExtractPackages(step); result != CP_USER_SUCCESS) return result;
  if (const std::string conflict = FindStagingConflict(packages_); !conflict.empty()) {
    WriteSourceLineLog(kSourceName, kLineStagingConflict, "Unzip Error, %s", conflict.c_str());
    return Fail(CP_USER_PATCHINFO_ERROR);
  }

  WriteLaunchLog("Start Update");
  Send(UM_UPDATE_ANALYSE_BEGIN, 0, 0);
  if (CpUserResult result = AnalyseFiles(step); result != CP_USER_SUCCESS) return result;

  WriteLaunchLog("Start CopyFile");
  SendBlock(UM_UPDATE_FILE_TOTAL, totalFiles_, 0, 0, 0);
  Send(UM_UPDATE_COPY_BEGIN, 0, 0);
  if (CpUserResult result = CopyFiles(); result != CP_USER_SUCCESS) return result;

  Send(UM_UPDATE_CLEANUP_BEGIN, 1, 0);
  // A patch without packages never made the staging folder: nothing to clean.
  if (IsPathExist(kStagingFolder) && !DeleteDirectoryTree(kStagingFolder)) {
    Fail(CP_USER_FILE_ERROR);
    WriteSourceLineLog(kSourceName, kLineStagingCleanup, "Analysis Error,DeleteDir error  Path =%s", kStagingFolder);
    return CP_USER_FILE_ERROR;
  }
  Send(UM_UPDATE_FILES_DONE, 0, 0);
  WriteSourceLineLog(kSourceName, kLinePatchSuccess, "CP_USER_SUCCESS ");
  // The patch is applied; a download folder left behind only takes space.
  static_cast<void>(DeleteDirectoryTree(patchFolder_));
  return CP_USER_SUCCESS;
}

CpUserResult QoPatchUser::InstallGamePage() {
  WriteLaunchLog("Start Install Game Page");
  Send(UM_PAGES_BEGIN, 0, 0);

  // A description that cannot be read would otherwise install nothing and
  // report success.
  QoPatchInfo info;
  if (info.InputPackageList(installInfoPath_) != 0) {
    Send(UM_PAGE_UNZIP_FAILED, 0, static_cast<int32_t>(CP_USER_PATCHINFO_ERROR));
    WriteSourceLineLog(kSourceName, kLineInstallInfoError, "InputPackageList error ,installInfo=%s",
                       installInfoPath_.c_str());
    return CP_USER_PATCHINFO_ERROR;
  }
  packages_ = info.packages();
  totalFiles_ = newFiles_ = static_cast<int32_t>(packages_.size());
  updateFiles_ = deleteFiles_ = 0;

  WriteLaunchLog("Start Unzip");
  SendBlock(UM_PAGE_TOTAL, totalFiles_, totalFiles_, 0, 0);
  Send(UM_PAGES_UNPACK_BEGIN, 0, 0);
  int index = 0;
  std::vector<std::string> extracted;
  // The list goes into the page folder and reaches the game only once every
  // page is extracted and on the disk; one left by an earlier attempt goes.
  const std::string heldList = Join(installPageFolder_, kGameInfoName);
  const HeldEntry held{kGameInfoName, heldList};
  static_cast<void>(DeleteFile(heldList, ReadOnlyFile::kDelete));
  for (const PackageInfo& page : packages_) {
    Send(UM_PAGE_NAME, 0, reinterpret_cast<intptr_t>(page.fileName.c_str()));
    Send(UM_PAGE_INDEX, 0, ++index);
    const std::string path = Join(installPageFolder_, page.fileName);
    if (!IsPathExist(path)) {
      Send(UM_PAGE_MISSING, 0, static_cast<int32_t>(CP_USER_FILE_ERROR));
      WriteSourceLineLog(kSourceName, kLinePageMissing, "Unzip Error Packahe not find  Package =%s", path.c_str());
      RemoveUnlisted(extracted);
      return CP_USER_FILE_ERROR;
    }
    if (!UnzipPackage(path, kInstallRoot, &extracted, &held)) return FailPage(path, extracted);
  }
  if (IsPathExist(heldList) && !CommitFileList(heldList, std::string(kInstallRoot) + kGameInfoName)) {
    return FailPage(heldList, extracted);
  }
  Send(UM_PAGES_DONE, 0, 0);
  WriteSourceLineLog(kSourceName, kLineInstallSuccess, "CP_USER_SUCCESS ");
  // The pages are installed; a page folder left behind only takes space.
  static_cast<void>(DeleteDirectoryTree(installPageFolder_));
  return CP_USER_SUCCESS;
}

CpUserResult QoPatchUser::FailPage(const std::string& path, const std::vector<std::string>& extracted) const {
  Send(UM_PAGE_UNZIP_FAILED, 0, static_cast<int32_t>(CP_USER_UNZIP_ERROR));
  WriteSourceLineLog(kSourceName, kLinePageUnzip, "Unzip Error, UnComPress Error  Path =%s", path.c_str());
  RemoveUnlisted(extracted);
  return CP_USER_UNZIP_ERROR;
}

bool QoPatchUser::CheckIsLzma(const std::string& path) {
  WriteLaunchLog("Start CheckIsLzma");
  UniqueFd file = OpenForReading(path);
  if (!file.valid()) {
    WriteSourceLineLog(kSourceName, kLineCheckLzmaOpen, "Analysis Error, CheckIsLzma error  Path =%s", path.c_str());
    return false;
  }
  uint8_t probe[kLzmaProbe];
  if (pread(file.get(), probe, sizeof probe, 0) != static_cast<ssize_t>(sizeof probe)) {
    WriteSourceLineLog(kSourceName, kLineCheckLzmaRead, "Analysis Error, file read error  Path =%s", path.c_str());
    return false;
  }
  return HasLzmaRecordMagic(probe, sizeof probe);
}

bool QoPatchUser::DoUnLzma(const std::string& fileName) {
  WriteLaunchLog("Start DoUnLzma");
  if (fileName.empty()) {
    WriteSourceLineLog(kSourceName, kLineUnLzmaName, "Analysis Error,DoUnLzma error  Path =%s", fileName.c_str());
    return false;
  }
  const std::string source = kUnzipFolder + fileName;
  const std::string work = std::string(kUnzipFolder) + kLzmaWorkFolder + "\\" + fileName;

  {
    UniqueFd in = OpenForReading(source);
    if (!in.valid() || !CreateDirectoryForPath(work, true)) return false;
    UniqueFd out = CreateFreshFile(work);
    if (!out.valid()) return false;
    struct stat info {};
    if (fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (!DecodeLzmaRecords(in.get(), info.st_size, out.get()) || !out.Close()) return false;
  }
  if (!DeleteFile(source)) return false;
  // The work file stays in place until the staging folder goes; the expanded
  // file takes over its data.
  return LinkOrCopyFile(work, source);
}

bool QoPatchUser::DoAnalysisFile(const std::string& source, const std::string& target) {
  WriteLaunchLog("Start DoAnalysisFile");
  if (source.empty() || target.empty() || !IsPathExist(source)) return false;
  m_bUserXdel_ = 0;
  bool delta = false;
  if (!WriteAnalysisPayload(source, target, &delta)) return false;
  m_bUserXdel_ = delta ? 1 : 0;
  return true;
}

bool QoPatchUser::AnalysisFileNew(const PatchFileInfo& fileInfo) {
  WriteLaunchLog("Start AnalysisFileNew");
  const std::string& name = fileInfo.fileName;
  const std::string unzipped = kUnzipFolder + name;
  const std::string payload = kStagingFolder + name;
  if (!IsPathExist(unzipped)) {
    WriteSourceLineLog(kSourceName, kLineNewExist, "Analysis Error, FileExist error  Path =%s", unzipped.c_str());
    return false;
  }
  if (CheckIsLzma(unzipped) && !DoUnLzma(name)) {
    WriteSourceLineLog(kSourceName, kLineNewUnLzma, "Analysis Error, DoUnLzma error  Path =%s", name.c_str());
    return false;
  }
  // A new file's payload is the whole file, even after a delta marker.
  if (!DoAnalysisFile(unzipped, payload)) {
    WriteSourceLineLog(kSourceName, kLineNewAnalysis, "Analysis Error, DoAnalysisFile error  Path =%s",
                       unzipped.c_str());
    return false;
  }
  std::string md5;
  if (!MakeMd5(payload, md5)) {
    WriteSourceLineLog(kSourceName, kLineNewMd5Make, "Analysis Error, CCT_MD5 error  Path =%s", payload.c_str());
    return false;
  }
  if (md5 != fileInfo.m_md5Check) {
    WriteSourceLineLog(kSourceName, kLineNewMd5, "Analysis Error, mate md5 error ");
    return false;
  }
  return true;
}

bool QoPatchUser::AnalysisFileUpdate(const PatchFileInfo& fileInfo) {
  WriteLaunchLog("Start AnalysisFileUpdate");
  const std::string& name = fileInfo.fileName;
  const std::string unzipped = kUnzipFolder + name;
  const std::string payload = kStagingFolder + name;
  // A missing folder is reported by the existence check that follows.
  static_cast<void>(CreateDirectoryForPath(unzipped, true));
  if (!IsPathExist(unzipped)) {
    WriteSourceLineLog(kSourceName, kLineUpdateExist, "Analysis Error, FileExist error  Path =%s", unzipped.c_str());
    return false;
  }
  if (CheckIsLzma(unzipped) && !DoUnLzma(name)) {
    WriteSourceLineLog(kSourceName, kLineUpdateUnLzma, "Analysis Error, DoUnLzma error  Path =%s", name.c_str());
    return false;
  }
  if (!DoAnalysisFile(unzipped, payload)) {
    WriteSourceLineLog(kSourceName, kLineUpdateAnalysis, "Analysis Error, DoAnalysisFile error  Path =%s",
                       unzipped.c_str());
    return false;
  }

  if (m_bUserXdel_ != 0) {
    WriteLaunchLog("start m_bUserXdel");
    const std::string installed = Join(gameFolder_, name);
    std::string md5;
    if (!MakeMd5(installed, md5)) {
      WriteSourceLineLog(kSourceName, kLineSourceMd5Make, "Analysis Error, CCT_MD5 error  Path =%s", installed.c_str());
      return false;
    }
    if (md5 != fileInfo.sourceMd5) {
      WriteSourceLineLog(kSourceName, kLineSourceMd5, "Analysis Error, mate md5 error file=%s", name.c_str());
      return false;
    }
    if (QoPatcher_xdelta::GetInstance().ApplyDelta(installed, payload, unzipped) != 0) {
      WriteSourceLineLog(kSourceName, kLineDelta, "CPT_XDELTA Error, mate md5 error SrcDir =%s,DifDir =%s,DstDir =%s",
                         installed.c_str(), payload.c_str(), unzipped.c_str());
      return false;
    }
  } else {
    if (!DeleteFile(unzipped)) {
      WriteSourceLineLog(kSourceName, kLineReplaceDelete, "Analysis Error, DeleteFile error  Path =%s",
                         unzipped.c_str());
      return false;
    }
    if (!LinkOrCopyFile(payload, unzipped)) {
      WriteSourceLineLog(kSourceName, kLineReplaceCopy, "Analysis Error, MoveFile error  Path =%s", payload.c_str());
      return false;
    }
  }

  std::string md5;
  if (!MakeMd5(unzipped, md5)) {
    WriteSourceLineLog(kSourceName, kLineUpdateMd5Make, "Analysis Error, CCT_MD5 error  Path =%s", unzipped.c_str());
    return false;
  }
  if (md5 != fileInfo.m_md5Check) {
    WriteSourceLineLog(kSourceName, kLineUpdateMd5,
                       "Analysis Error, mate md5 errorPath =%s strmD5 =%s,itPatchFileInfoVec->m_md5Check =%s",
                       name.c_str(), md5.c_str(), fileInfo.m_md5Check.c_str());
    return false;
  }
  return true;
}
