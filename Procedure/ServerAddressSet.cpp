#include "Procedure/ServerAddressSet.h"

#include <utility>

#include "Procedure/MetadataSignature.h"
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
  return DownloadSigned(Addresses(number).firstDownload, paths_.firstDownloadSuffix, localPath, cookie, maxBytes);
}

bool ServerAddressSet::DownloadFirst(const std::string& localPath, int32_t cookie, uint64_t maxBytes) const {
  for (int number = 1; number <= kServerBaseCount; ++number) {
    if (DownloadFirstFrom(number, localPath, cookie, maxBytes)) return true;
  }
  return false;
}

bool ServerAddressSet::DownloadFromFolders(const std::string& relative, const std::string& localPath, int32_t cookie,
                                           uint64_t maxBytes) const {
  return DownloadFromFoldersFrom(1, relative, localPath, cookie, maxBytes, true) != 0;
}

int ServerAddressSet::DownloadFromFoldersFrom(int first, const std::string& relative, const std::string& localPath,
                                              int32_t cookie, uint64_t maxBytes, bool signedFile) const {
  for (int i = 0; i < kServerBaseCount; ++i) {
    const int number = (first - 1 + i) % kServerBaseCount + 1;
    const std::string address = Addresses(number).folderPrefix + relative;
    const bool done =
        signedFile ? DownloadSigned(address, std::string(paths_.folderSuffix) + relative, localPath, cookie, maxBytes)
                   : download_(address, localPath, cookie, maxBytes);
    if (done) return number;
  }
  return 0;
}

bool ServerAddressSet::DownloadSigned(const std::string& address, std::string_view pathBelowBase,
                                      const std::string& localPath, int32_t cookie, uint64_t maxBytes) const {
  if (!download_(address, localPath, cookie, maxBytes)) return false;
  if (!MetadataSignaturesRequired()) return true;
  const SignatureFetch fetch = [this, cookie](const std::string& url, const std::string& path, uint64_t bound) {
    return download_(url, path, cookie, bound);
  };
  return CheckMetadataSignature(fetch, address, localPath, pathBelowBase);
}

bool ServerAddressSet::DownloadVerified(const std::string& relative, const std::string& localPath,
                                        const std::string& md5, int32_t cookie, const VerifiedDownloadLog& log,
                                        uint64_t maxBytes) const {
  // An address that gave wrong bytes is asked last in the next attempt, so a
  // damaged copy on one server does not hide a good copy on the next.
  int first = 1;
  for (int attempt = 0; attempt < kVerifiedAttempts; ++attempt) {
    const int number = DownloadFromFoldersFrom(first, relative, localPath, cookie, maxBytes, false);
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
