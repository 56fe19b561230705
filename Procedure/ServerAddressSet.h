// The three server bases of a procedure, the addresses derived from each, and
// the downloads every procedure makes over them: address set 1 first, then 2,
// then 3, stopping at the first success. Every address keeps the launcher's
// "\" form; DownloadFile turns it into a URL.
//
// One object belongs to one procedure: SetBase runs on the UI thread before
// the procedure's worker starts, the downloads run on that worker.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Procedure/LauncherConfig.h"
#include "Procedure/ServerVersionFile.h"
#include "patch/ProtectedFile.h"

// The manager's download service (ProcedureManager::DownloadFile): true when
// the file is complete at `localPath`. `cookie` is the caller's procedure id;
// a body larger than `maxBytes` fails the attempt.
using DownloadFunction =
    std::function<bool(const std::string& url, const std::string& localPath, int32_t cookie, uint64_t maxBytes)>;

// The most bytes each kind of download can have: a server that sends more
// is cut off at once, before it fills the disk. The small version files and
// the lists and descriptions may reach the size their readers refuse, so that
// such a file is still refused by its reader as before; packages, pages and
// single game files are bounded by the size their description or list gives.
inline constexpr uint64_t kVersionFileMaxBytes = kVersionFileLimit;
inline constexpr uint64_t kListMaxBytes = PROTECTED_FILE_MAX;

// A size that a description or list gives, as a bound (a negative one
// admits nothing).
constexpr uint64_t ListedSizeBound(int32_t size) { return size < 0 ? 0 : static_cast<uint64_t>(size); }

inline constexpr int kServerBaseCount = 3;

// How a download checked against an MD5 text logs its failed attempts
// (WriteSourceLineLog; the "spaced" line WriteSourceLineLogSpaced).
struct VerifiedDownloadLog {
  const char* sourceName;  // e.g. "Procedure\\ProcedureRepair.cpp"
  int downloadFailedLine;  // failure line "DownloadFile" when no address answered; 0: no line
  int md5WarningLine;      // spaced failure line "DownFile Md5 Warning  " after a wrong MD5
};

// In a launcher built with a signing key (MetadataSignaturesRequired), every
// download but DownloadVerified's also needs its signature file from the same
// address to check out (CheckMetadataSignature); a file that fails counts as
// a failed download from that base.
class ServerAddressSet {
 public:
  // `paths` gives the suffixes of the first download and of the folder
  // prefix; all bases start empty.
  ServerAddressSet(const ProcedurePaths& paths, DownloadFunction download);

  // Base `number` (1 to 3) and the addresses derived from it.
  void SetBase(int number, std::string base);
  const ServerAddresses& Addresses(int number) const { return sets_.at(number - 1); }

  // Every download below is bounded by `maxBytes` (see DownloadFunction).

  // The first-download address of base `number` only.
  [[nodiscard]] bool DownloadFirstFrom(int number, const std::string& localPath, int32_t cookie,
                                       uint64_t maxBytes) const;
  // The first-download address of bases 1, 2, 3 until one succeeds.
  [[nodiscard]] bool DownloadFirst(const std::string& localPath, int32_t cookie, uint64_t maxBytes) const;
  // Folder prefix N + `relative`, for N = 1, 2, 3 until one succeeds.
  [[nodiscard]] bool DownloadFromFolders(const std::string& relative, const std::string& localPath, int32_t cookie,
                                         uint64_t maxBytes) const;
  // At most three attempts, each over the three folder prefixes like
  // DownloadFromFolders; an attempt counts when the MD5 text of the downloaded
  // file equals `md5` exactly. After wrong bytes from base N the next attempt
  // begins with base N + 1 (after 3: base 1) and asks base N last. Each failed
  // attempt is logged as `log` says. False after the third failed attempt,
  // with the last download left at `localPath`.
  [[nodiscard]] bool DownloadVerified(const std::string& relative, const std::string& localPath, const std::string& md5,
                                      int32_t cookie, const VerifiedDownloadLog& log, uint64_t maxBytes) const;

 private:
  // Folder prefix N + `relative` for N = `first`, the next and the one after
  // (3 is followed by 1) until one succeeds; the base that did, or 0. A
  // `signedFile` succeeds only when its signature checks out.
  [[nodiscard]] int DownloadFromFoldersFrom(int first, const std::string& relative, const std::string& localPath,
                                            int32_t cookie, uint64_t maxBytes, bool signedFile) const;
  // `address` to `localPath`, then its signature when the launcher requires
  // them; `pathBelowBase` is the file's path below the server base.
  [[nodiscard]] bool DownloadSigned(const std::string& address, std::string_view pathBelowBase,
                                    const std::string& localPath, int32_t cookie, uint64_t maxBytes) const;

  const ProcedurePaths& paths_;
  DownloadFunction download_;
  std::array<ServerAddresses, kServerBaseCount> sets_;
};
