// Reader of a version file list ("GameInfo.ini"): the version text and every
// file of that version with size, MD5 and CRC-32. The file may be protected or
// plain; it is never changed: a copy in the user's private temporary folder is
// unprotected and read, then deleted.
//
// One object is filled by one read on the calling thread and then only read.
// Every read has a copy of its own, so reads of this and of other processes
// of the user may run at the same time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MessageWindow;

struct VersionFileRecord {
  // Relative to the folder that holds the list, as the file system names it
  // (UTF-8; see LocalNameOf).
  std::string fileName;
  int32_t size = 0;
  std::string md5;  // 32 upper-case hex digits
  std::string crc;  // 8 upper-case hex digits, least significant byte first
  int32_t checkFlag = 0;
  std::string serverName;  // the name as the list gives it (code page 936): its download address
};

// The name of the deciphered copies, and a new one: an empty file of the
// caller's own in the private temporary folder, named "\" + the name + "."
// + the process id + "." + six unique characters, which the caller removes
// after use. Copies of processes that have ended (a failed removal left
// them) are deleted first. Empty when the temporary folder is unusable or
// the file cannot be made.
inline constexpr const char* kVersionListTempName = "GameInfo.ini.UnCypt";
std::string NewVersionListTempFile();

class QoVersionRepairInfo {
 public:
  // `notifyWindow` (may be null) receives the progress of
  // InputVerRepairFileList.
  explicit QoVersionRepairInfo(MessageWindow* notifyWindow = nullptr);
  virtual ~QoVersionRepairInfo();

  // Reads the version ([Version] Version) and the file list ([FileList]
  // FileCount and File0 .. File<FileCount - 1>, five comma-separated fields:
  // name, MD5, CRC, size, check flag). Entries that do not have exactly five
  // non-empty fields are skipped. Records are appended to files().
  // Names are kept in both forms (VersionFileRecord).
  // Sends UM_FILELIST_PARSE_BEGIN, one UM_FILELIST_PARSE_PERCENT per record
  // (wParam: index * 100 / FileCount, lParam: the record's file name, valid
  // during the call) and UM_FILELIST_PARSE_END.
  // False, with nothing changed and no message sent, when the file cannot be
  // copied, fails the protected-form check (missing, 30 MiB or larger, bad
  // CRC), or names a file that is absolute, climbs out with ".." or is not
  // code page 936 text (logged).
  [[nodiscard]] bool InputVerRepairFileList(const std::string& path);

  // Reads only the version. False when the file cannot be copied or fails the
  // protected-form check; sends nothing.
  [[nodiscard]] bool InputVerRepairInfoFile(const std::string& path);

  const std::string& version() const { return version_; }
  const std::vector<VersionFileRecord>& files() const { return files_; }

 private:
  MessageWindow* notifyWindow_;
  std::string version_;
  std::vector<VersionFileRecord> files_;
};
