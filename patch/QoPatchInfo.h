// Reader of a patch or installation description: the version pair, the zip
// packages and, for a patch, the files each package changes. The file may be
// protected or plain; a protected file is replaced by its plain form in place.
//
// Plain layout: [PatchVersion] VersionOld, VersionNew; [Packages] PackageNum
// and Package0 .. Package<PackageNum - 1> = "name,fileCount,size,md5";
// [Package<i>] File0 .. File<fileCount - 1> = "name,type,extra,md5,sourceMd5".
// Fields are split at commas with runs of commas counting as one separator,
// so an empty field shifts the following ones left; missing fields read as
// 0 or "". Values are read up to 519 characters. The file is read once,
// whatever counts it announces.
//
// One object is filled on the calling thread and then only read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// fileType values of PatchFileInfo; other values are kept and ignored.
inline constexpr int32_t PATCH_FILE_NEW = 1;     // the package carries the whole new file
inline constexpr int32_t PATCH_FILE_UPDATE = 2;  // a replacement or a VCDIFF delta
inline constexpr int32_t PATCH_FILE_DELETE = 3;  // the file is removed

struct PatchFileInfo {
  // Relative to the game folder; also its path in the package. In the form
  // of the file system (UTF-8), as are the packages' names (see LocalNameOf).
  std::string fileName;
  int32_t fileType = 0;
  int32_t extra = 0;
  std::string m_md5Check;  // MD5 of the file after patching
  std::string sourceMd5;   // MD5 of the installed file before a delta
};

struct PackageInfo {
  std::string fileName;  // zip package, relative to the download folder
  int32_t fileCount = 0;
  int32_t extra = 0;  // the package's size in bytes
  std::string packageMd5;
  std::vector<PatchFileInfo> files;
};

class QoPatchInfo {
 public:
  QoPatchInfo();
  virtual ~QoPatchInfo();

  // Unprotects the file in place, then reads the versions, the packages and
  // each package's files; packages are appended to packages(). A File key
  // below fileCount that is missing is skipped (its entry would have type 0,
  // which the applier ignores), so `files` holds the keys present. Returns 0,
  // or -1 when `path` is empty, the protected form fails its check (nothing
  // is read), a name is absolute, climbs out with ".." or is not code page
  // 936 text, or a Package key
  // below PackageNum is missing (both logged; nothing is changed).
  [[nodiscard]] int InputPatchInfoFile(const std::string& path);

  // The same without the package sections: every package's `files` stays
  // empty.
  [[nodiscard]] int InputPackageList(const std::string& path);

  const std::string& versionOld() const { return versionOld_; }
  const std::string& versionNew() const { return versionNew_; }
  const std::vector<PackageInfo>& packages() const { return packages_; }

 private:
  [[nodiscard]] int Read(const std::string& path, bool withFiles);

  std::string versionOld_;
  std::string versionNew_;
  std::vector<PackageInfo> packages_;
};
