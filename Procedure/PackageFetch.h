// The packages of an installation or patch description, as the install and
// the game patch fetch them: a sizing pass that totals the sizes the
// [Packages] entries announce, then a fetch pass that makes every package
// present in a local folder, verified by MD5. A package already there with
// the right MD5 (from an interrupted earlier run) is counted, not fetched.
//
// The entries are read from the description file as it is, with the
// private-profile reads: [Packages] PackageNum, and Package0 ..
// Package<PackageNum - 1> = "name,fileCount,size,md5" (at most 259
// characters, empty pieces dropped, at least four pieces).
//
// Runs on the procedure's worker thread; messages are synchronous sends to
// the main window, texts valid only during the send.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Procedure/ServerAddressSet.h"
#include "platform/MessageWindow.h"

// What differs between the install and the game patch: their messages and
// the line numbers of their failure lines (WriteSourceLineLog; the "spaced" ones
// WriteSourceLineLogSpaced).
struct PackageFetchProfile {
  const char* sourceName;
  MessageId totalSizeMessage;       // lParam: the total as "%lf" text
  MessageId countMessage;           // lParam: the package count
  MessageId doneSizeMessage;        // lParam: bytes present so far as "%lf" text
  MessageId indexMessage;           // lParam: packages present so far
  MessageId beforeDownloadMessage;  // before each package that has to be fetched; 0: none
  int sizingUnreadableLine;         // failure line "GetPrivateProfileString"
  int sizingShortLine;              // failure line "vTemp.size()"
  int fetchUnreadableLine;
  int fetchShortLine;
  int unsafeNameLine;      // failure line "Package unsafe file name =%s"
  int downloadFailedLine;  // failure line "DownloadFile" after an attempt no address answered
  int md5WarningLine;      // spaced failure line "DownFile Md5 Warning  "
  int gaveUpLine;          // spaced failure line "PRO_GAME_PATCH_DOWNLOAD_ERROR  "
};

enum class PackageFetchResult {
  kPresent,         // every package is in the local folder with its MD5
  kCancelled,       // the stop check answered true before a package
  kSizingFailed,    // the sizing pass met an empty, short or unsafe entry
  kEntryFailed,     // the fetch pass met one
  kDownloadFailed,  // a package failed three attempts
};

class PackageFetch {
 public:
  // Downloads go through `servers` with `cookie`; `stopRequested` is asked
  // before each package.
  PackageFetch(const PackageFetchProfile& profile, const ServerAddressSet& servers, int32_t cookie,
               MessageWindow* mainWindow, std::function<bool()> stopRequested);

  // Sizes and fetches the packages of `description` into `localFolder` +
  // "\" + name, from folder prefix N + `remoteFolder` + "\" + name. A name
  // that is absolute or climbs out with ".." is an unusable entry (logged).
  // The packages fetched so far stay in the local folder whatever the result.
  [[nodiscard]] PackageFetchResult Run(const std::string& description, const std::string& localFolder,
                                       const std::string& remoteFolder) const;

 private:
  const PackageFetchProfile& profile_;
  const ServerAddressSet& servers_;
  const int32_t cookie_;
  MessageWindow* const mainWindow_;
  const std::function<bool()> stopRequested_;
};
