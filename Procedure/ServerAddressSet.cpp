#include "Procedure/ServerAddressSet.h"

#include <utility>

#include "patch/checksum/QoChecksum.h"
#include "util/LaunchLog.h"

namespace {

constexpr int kVerifiedAttempts = 3;

}  // namespace

ServerAddressSet::ServerAddressSet(const ProcedurePaths& paths, DownloadFunction download)
    : paths_(paths), download_(std::move(download)) {}

void ServerAddressSet::SetBase(int number, std::string base) {
  sets_.at(number - 1) = MakeServerAddresses(paths_, std::move(base));
}

bool ServerAddressSet::DownloadFirstFrom(int number, const std::string& localPath, int32_t cookie,
                                         uint64_t maxBytes) const {
  return download_(Addresses(number).firstDownload, localPath, cookie, maxBytes);
}

bool ServerAddressSet::DownloadFirst(const std::string& localPath, int32_t cookie, uint64_t maxBytes) const {
  for (int number = 1; number <= kServerBaseCount; ++number) {
    if (DownloadFirstFrom(number, localPath, cookie, maxBytes)) return true;
  }
  return false;
}

bool ServerAddressSet::DownloadFromFolders(const std::string& relative, const std::string& localPath, int32_t cookie,
                                           uint64_t maxBytes) const {
  return DownloadFromFoldersFrom(1, relative, localPath, cookie, maxBytes) != 0;
}

int ServerAddressSet::DownloadFromFoldersFrom(int first, const std::string& relative, const std::string& localPath,
                                              int32_t cookie, uint64_t maxBytes) const {
  for (int i = 0; i < kServerBaseCount; ++i) {
    const int number = (first - 1 + i) % kServerBaseCount + 1;
    if (download_(Addresses(number).folderPrefix + relative, localPath, cookie, maxBytes)) return number;
  }
  return 0;
}

bool ServerAddressSet::DownloadVerified(const std::string& relative, const std::string& localPath,
                                        const std::string& md5, int32_t cookie, const VerifiedDownloadLog& log,
                                        uint64_t maxBytes) const {
  // An address that gave wrong bytes is asked last in the next attempt, so a
  // damaged copy on one server does not hide a good copy on the next.
  int first = 1;
  for (int attempt = 0; attempt < kVerifiedAttempts; ++attempt) {
    const int number = DownloadFromFoldersFrom(first, relative, localPath, cookie, maxBytes);
    if (number == 0) {
      if (log.downloadFailedLine != 0) {
        WriteSourceLineLog(log.sourceName, log.downloadFailedLine, "DownloadFile");
      }
      continue;
    }
    std::string actual;
    if (GetMd5Checksum().MakeFileHex(localPath, actual) && actual == md5) return true;
    WriteSourceLineLogSpaced(log.sourceName, log.md5WarningLine, "DownFile Md5 Warning  ");
    first = number % kServerBaseCount + 1;
  }
  return false;
}
