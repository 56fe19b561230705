#include "Procedure/ProcedureRepair.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "Procedure/ProcedureMessages.h"
#include "Procedure/ServerVersionFile.h"
#include "patch/SafeName.h"
#include "patch/checksum/QoChecksum.h"
#include "platform/ProcessLauncher.h"
#include "platform/SystemPath.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

using enum RepairResult;

namespace {

constexpr const char* kSourceName = "Procedure\\ProcedureRepair.cpp";
constexpr int kMd5WarningLine = 185;
constexpr int kFileCopyLine = 201;
constexpr int kListCopyLine = 224;
constexpr int kNoVersionLine = 240;
constexpr int kLauncherFolderLine = 244;

constexpr VerifiedDownloadLog kVerifyLog{kSourceName, 0, kMd5WarningLine};

constexpr const char* kListName = "GameInfo.ini";

// Phases of UM_REPAIR_FILE_STEP.
constexpr WParam kStepExamining = 1;
constexpr WParam kStepDownloading = 2;
constexpr WParam kStepFinished = 3;  // finished without copy, or copy about to happen
constexpr WParam kStepCopied = 4;

WParam TextArg(const std::string& text) { return reinterpret_cast<WParam>(text.c_str()); }

// The last component of a list name ("data\a.dat" gives "a.dat").
std::string FileNameOf(const std::string& name) {
  const size_t cut = name.find_last_of("\\/");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// `folder` joined with `name` by one "\".
std::string PathAppend(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + name;
}

// Descending byte-wise order of names (bytes unsigned, a prefix before its
// extensions), the order in which lists are compared and files deleted.
bool NameDescending(const VersionFileRecord& a, const VersionFileRecord& b) { return a.fileName > b.fileName; }

// The entries of `current` whose name `fresh` lacks. Both are sorted with
// NameDescending; the result keeps that order.
std::vector<const VersionFileRecord*> ObsoleteEntries(const std::vector<VersionFileRecord>& current,
                                                      const std::vector<VersionFileRecord>& fresh) {
  std::vector<const VersionFileRecord*> obsolete;
  auto next = fresh.begin();
  for (const VersionFileRecord& entry : current) {
    while (next != fresh.end() && next->fileName > entry.fileName) ++next;
    if (next == fresh.end() || next->fileName != entry.fileName) obsolete.push_back(&entry);
  }
  return obsolete;
}

// True when the folder `path` holds the current folder (the launcher's own):
// it is never removed. Unknown counts as holding it.
bool HoldsCurrentFolder(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> folder(realpath(ToSystemPath(path).c_str(), nullptr), &std::free);
  const std::unique_ptr<char, decltype(&std::free)> current(realpath(".", nullptr), &std::free);
  if (!folder || !current) return true;
  const std::string inner = std::string(current.get()) + "/";
  return inner.starts_with(std::string(folder.get()) + "/");
}

// Removes what stands in the way of the listed file `name` below `folder`
// (which ends with "\"): something that is not a folder where one of the
// file's folders must be, or something that is not a file where the file
// must be. Links are removed themselves, never followed, so nothing outside
// the folder is touched; a folder that holds the launcher's own is never
// removed. Each removal, and each removal that fails, is logged. Any
// installation failure (or a hostile page) can leave such a thing behind,
// and the copy into place would fail on it run after run.
void ClearWayTo(const std::string& folder, const std::string& name) {
  std::string path = folder;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find_first_of("\\/", start), name.size());
    path += name.substr(start, end - start);
    const bool isFile = end == name.size();
    struct stat st {};
    if (lstat(ToSystemPath(path).c_str(), &st) != 0) return;  // nothing there, nor below
    const bool inTheWay = isFile ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode);
    if (inTheWay) {
      const bool removed = S_ISDIR(st.st_mode) ? !HoldsCurrentFolder(path) && DeleteDirectoryTree(path)
                                               : DeleteFile(path, ReadOnlyFile::kDelete);
      WriteLaunchLog("%s %s, which stands in the way of %s", removed ? "removed" : "cannot remove", path.c_str(),
                     name.c_str());
      return;
    }
    path += '\\';
    start = end + 1;
  }
}

// True when the local file has the entry's size and, unless that is 0, its
// CRC text exactly. A file that cannot be read counts as different. Any thread.
bool IsFileCurrent(const VersionFileRecord& entry, const std::string& localFile) {
  if (GetFileLength(localFile) != entry.size) return false;
  if (entry.size == 0) return true;
  std::string crc;
  return GetCrcChecksum().MakeFileHex(localFile, crc) && crc == entry.crc;
}

}  // namespace

// Checks the files of every second entry (2, 4, ...) on a helper thread that
// runs ahead of the file loop, while the loop checks the others itself, so
// that reading and hashing overlap on two processors. Checks only read. A
// result counts only when no file was written after its check began: the loop
// reports every copy, and checks it finds older it makes again itself.
// Every operation is called by the run's thread.
class ProcedureRepair::CheckAhead {
 public:
  // `examined` tells the entries the loop examines; the others are skipped.
  CheckAhead(const std::vector<VersionFileRecord>& list, std::string targetFolder,
             std::function<bool(const VersionFileRecord&)> examined)
      : list_(list), targetFolder_(std::move(targetFolder)), examined_(std::move(examined)), results_(list.size()) {
    if (list_.size() < 2) return;
    try {
      helper_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
      // No helper thread: the loop checks every entry itself.
    }
  }
  ~CheckAhead() {
    if (!helper_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    helper_.join();
  }
  CheckAhead(const CheckAhead&) = delete;
  CheckAhead& operator=(const CheckAhead&) = delete;

  // Whether the file of entry `index` (from 1, examined) is current.
  bool IsCurrent(int index) {
    if (helper_.joinable() && IsHelperEntry(index)) {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return results_[index - 1].ready; });
      const Result& result = results_[index - 1];
      if (result.generation == generation_) return result.current;
    }
    return IsFileCurrent(list_[index - 1], LocalFile(index));
  }

  // A file of the target folder was written: results of checks begun before
  // are not used.
  void FileChanged() {
    std::lock_guard lock(mutex_);
    ++generation_;
  }

 private:
  struct Result {
    bool ready = false;
    bool current = false;
    uint64_t generation = 0;  // generation_ when the check began
  };

  static bool IsHelperEntry(int index) { return index % 2 == 0; }
  std::string LocalFile(int index) const { return targetFolder_ + list_[index - 1].fileName; }

  void Serve() {
    for (int index = 2; index <= static_cast<int>(list_.size()); index += 2) {
      uint64_t generation = 0;
      {
        std::lock_guard lock(mutex_);
        if (quit_) return;
        generation = generation_;
      }
      const bool current = examined_(list_[index - 1]) && IsFileCurrent(list_[index - 1], LocalFile(index));
      {
        std::lock_guard lock(mutex_);
        results_[index - 1] = {true, current, generation};
      }
      ready_.notify_one();
    }
  }

  const std::vector<VersionFileRecord>& list_;
  const std::string targetFolder_;
  const std::function<bool(const VersionFileRecord&)> examined_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Result> results_;  // by index - 1; guarded by mutex_
  uint64_t generation_ = 0;      // guarded by mutex_
  bool quit_ = false;            // guarded by mutex_
  std::thread helper_;
};

ProcedureRepair::ProcedureRepair(DownloadFunction download, const ProcedurePaths& paths, const ConfigUrlKey& urlKey)
    : paths_(paths), urlKey_(urlKey), servers_(paths, std::move(download)) {}

ProcedureRepair::~ProcedureRepair() = default;

void ProcedureRepair::Init(MessageWindow* mainWindow, const std::string& configPath, StopEvent* stopEvent) {
  ProcedureBase::Init(mainWindow, configPath, stopEvent);
  SetServerUrl1(ReadConfigUrl(urlKey_, configPath));
  SetServerUrl2(PrimaryServerBase());
  SetServerUrl3(PrimaryServerBase());
  m_strUpdateVerLocalUnCypt = DecipheredListPath();
}

void ProcedureRepair::SetServerUrl1(std::string baseUrl) { servers_.SetBase(1, std::move(baseUrl)); }
void ProcedureRepair::SetServerUrl2(std::string baseUrl) { servers_.SetBase(2, std::move(baseUrl)); }
void ProcedureRepair::SetServerUrl3(std::string baseUrl) { servers_.SetBase(3, std::move(baseUrl)); }
void ProcedureRepair::SetFlaggedOnly(bool flaggedOnly) { flaggedOnly_ = flaggedOnly; }

ProcedureResult ProcedureRepair::Run() {
  WriteLaunchLog("start repair!");
  replacedCount_ = 0;
  const int32_t cookie = DownloadCookie();
  // Each file is staged and removed again; whatever an earlier run could not
  // remove goes now, even when nothing needs replacing this time.
  static_cast<void>(DeleteDirectoryTree(std::string(paths_.tempFolder)));

  const std::string versionFile(paths_.firstDownloadCopy);
  // A missing folder makes the download fail, which is reported.
  static_cast<void>(CreateDirectoryForPath(versionFile, true));
  if (!servers_.DownloadFirst(versionFile, cookie, kVersionFileMaxBytes)) return REPAIR_VERSION_DOWNLOAD_FAILED;
  std::string serverVersion;
  if (!ReadServerVersion(versionFile, serverVersion)) return REPAIR_VERSION_UNREADABLE;

  const std::string downloadedList(paths_.listCopy);
  if (!servers_.DownloadFromFolders(serverVersion + "\\" + kListName, downloadedList, cookie, kListMaxBytes)) {
    return REPAIR_LIST_DOWNLOAD_FAILED;
  }
  if (!CompareFileLists(downloadedList)) return REPAIR_LIST_UNREADABLE;
  if (!CreateDirectoryForPath(paths_.tempFolder, false)) return REPAIR_TEMP_FOLDER_FAILED;

  const int count = static_cast<int>(fileList_.size());
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_TOTAL, static_cast<WParam>(count));
  CheckAhead ahead(fileList_, std::string(paths_.targetFolder),
                   [this](const VersionFileRecord& entry) { return IsExamined(entry); });
  for (int index = 1; index <= count; ++index) {
    if (const std::optional<RepairResult> failure = RepairEntry(index, ahead)) return *failure;
  }
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepCopied, count);

  // The old list stays until the copy replaces it whole: without a list the
  // next start would take the game for not installed. The files copied and
  // deleted above reach the disk before the list that names them.
  const std::string installedList = std::string(paths_.targetFolder) + kListName;
  // Nothing replaced and the same list in place: the folder is as the list
  // already says, so there is nothing to make durable and nothing to replace
  // (flushing the file system costs a pass over every file's cached data).
  if (replacedCount_ == 0 && HoldSameBytes(downloadedList, installedList, kListMaxBytes)) return REPAIR_UP_TO_DATE;
  if (!CommitFileList(downloadedList, installedList)) {
    WriteSourceLineLog(kSourceName, kListCopyLine, "CopyFile Error szTempLauncherFile =%s , localFile",
                       downloadedList.c_str());
    return REPAIR_LIST_COPY_FAILED;
  }
  return replacedCount_ != 0 ? REPAIR_FILES_REPLACED : REPAIR_UP_TO_DATE;
}

bool ProcedureRepair::CompareFileLists(const std::string& downloadedList) {
  QoVersionRepairInfo fresh;
  if (!fresh.InputVerRepairFileList(downloadedList)) {
    WriteLaunchLog("InputVerRepairInfoFile Error m_strUpdateVerLocalUnCypt = %s", m_strUpdateVerLocalUnCypt.c_str());
    return false;
  }
  // Any plain text reads as a list, so an error page served in place of the
  // list would read as an empty one and make every installed file obsolete.
  if (fresh.version().empty()) {
    WriteSourceLineLog(kSourceName, kNoVersionLine, "InputVerRepairFileList no version, list =%s",
                       downloadedList.c_str());
    return false;
  }
  // The launcher's own files belong to the self-update: a game list may not
  // name them.
  const LauncherFolderGuard launcherFolder(paths_.targetFolder);
  for (const VersionFileRecord& entry : fresh.files()) {
    if (launcherFolder.Enters(entry.fileName)) {
      WriteSourceLineLog(kSourceName, kLauncherFolderLine, "InputVerRepairFileList file in the launcher folder =%s",
                         entry.fileName.c_str());
      return false;
    }
    if (IsRefusedName(entry.fileName)) {
      WriteLaunchLog("CompareFileLists refused file name =%s, list =%s", entry.fileName.c_str(),
                     downloadedList.c_str());
      return false;
    }
  }
  // A missing or unreadable own list counts as an empty one.
  QoVersionRepairInfo current;
  static_cast<void>(current.InputVerRepairFileList(std::string(paths_.targetFolder) + kListName));

  SendMessageTo(MainWindow(), UM_LATEST_VERSION, TextArg(fresh.version()));
  SendMessageTo(MainWindow(), UM_CURRENT_VERSION, TextArg(current.version()));

  std::vector<VersionFileRecord> freshFiles = fresh.files();
  std::vector<VersionFileRecord> currentFiles = current.files();
  std::sort(freshFiles.begin(), freshFiles.end(), NameDescending);
  std::sort(currentFiles.begin(), currentFiles.end(), NameDescending);

  const std::vector<const VersionFileRecord*> obsolete = ObsoleteEntries(currentFiles, freshFiles);
  const double half = 2.0 * static_cast<double>(obsolete.size());
  for (size_t j = 1; j <= obsolete.size(); ++j) {
    SendMessageTo(MainWindow(), UM_REPAIR_COMPARE_PERCENT, static_cast<WParam>(static_cast<double>(j) * 100.0 / half));
    // A file that cannot be deleted does not stop the repair; the launcher's
    // own folder belongs to the self-update.
    if (!launcherFolder.Enters(obsolete[j - 1]->fileName))
      DeleteFile(std::string(paths_.targetFolder) + obsolete[j - 1]->fileName, ReadOnlyFile::kDelete);
  }

  fileList_ = std::move(freshFiles);
  newVersion_ = fresh.version();
  return true;
}

std::optional<RepairResult> ProcedureRepair::RepairEntry(int index, CheckAhead& ahead) {
  const VersionFileRecord& entry = fileList_[index - 1];
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepExamining, index);
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_NAME, TextArg(entry.fileName));
  if (!IsExamined(entry)) {
    SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepFinished, index);
    return std::nullopt;
  }
  if (IsStopRequested()) {
    SendMessageTo(MainWindow(), UM_REPAIR_ABORTED, 1, 0);
    return REPAIR_CANCELLED;
  }
  if (ahead.IsCurrent(index)) {
    SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepFinished, index);
    return std::nullopt;
  }

  const std::string localFile = std::string(paths_.targetFolder) + entry.fileName;
  const std::string tempFile = PathAppend(std::string(paths_.tempFolder), FileNameOf(entry.fileName));
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepDownloading, index);
  if (!servers_.DownloadVerified(newVersion_ + "\\" + entry.serverName, tempFile, entry.md5, DownloadCookie(),
                                 kVerifyLog, ListedSizeBound(entry.size))) {
    return REPAIR_FILE_DOWNLOAD_FAILED;
  }
  ClearWayTo(std::string(paths_.targetFolder), entry.fileName);
  // A missing folder makes the copy fail, which is reported.
  static_cast<void>(CreateDirectoryForPath(localFile, true));
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepFinished, index);
  const bool copied = CopyFileOverwrite(tempFile, localFile);
  ahead.FileChanged();
  if (!copied) {
    WriteSourceLineLog(kSourceName, kFileCopyLine, "CopyFile Error szTempLauncherFile =%s , localFile",
                       tempFile.c_str());
    DeleteFile(tempFile, ReadOnlyFile::kDelete);
    return REPAIR_FILE_COPY_FAILED;
  }
  // Downloads carry no permission bits. A native program (the launcher
  // itself) gets its execute bits now, so that they reach the disk with the
  // list that names it: after a power cut the player can still start it.
  if (!MakeNativeProgramExecutable(localFile)) WriteLaunchLog("cannot make %s executable", localFile.c_str());
  SendMessageTo(MainWindow(), UM_REPAIR_FILE_STEP, kStepCopied, index);
  DeleteFile(tempFile, ReadOnlyFile::kDelete);
  ++replacedCount_;
  return std::nullopt;
}

bool ProcedureRepair::IsRefusedName(const std::string&) const { return false; }

bool ProcedureRepair::IsExamined(const VersionFileRecord& entry) const { return !flaggedOnly_ || entry.checkFlag != 0; }
