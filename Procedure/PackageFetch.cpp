#include "Procedure/PackageFetch.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "patch/IniDocument.h"
#include "patch/SafeName.h"
#include "patch/checksum/QoChecksum.h"
#include "platform/PrivateProfile.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

namespace {

// Entries are read into a 260-byte buffer.
constexpr size_t kEntryBufferSize = 260;
constexpr size_t kMinimumPieces = 4;

struct PackageEntry {
  std::string fileName;   // as the description gives it: the download address
  std::string localName;  // the file-system form (LocalNameOf)
  int32_t size = 0;
  std::string md5;
};

enum class EntryRead { kOk, kUnreadable, kShort, kUnsafe };

EntryRead ReadEntry(const std::string& description, int index, PackageEntry& entry) {
  const std::string value =
      GetPrivateProfileString("Packages", "Package" + std::to_string(index), "", kEntryBufferSize, description);
  if (value.empty()) return EntryRead::kUnreadable;
  std::vector<std::string> pieces;
  if (SplitByComma(pieces, value) < static_cast<int>(kMinimumPieces)) return EntryRead::kShort;
  entry = {pieces[0], {}, IniToInt(pieces[2]), pieces[3]};
  return LocalNameOf(entry.fileName, entry.localName) ? EntryRead::kOk : EntryRead::kUnsafe;
}

std::string SizeText(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%lf", bytes);
  return text;
}

}  // namespace

PackageFetch::PackageFetch(const PackageFetchProfile& profile, const ServerAddressSet& servers, int32_t cookie,
                           MessageWindow* mainWindow, std::function<bool()> stopRequested)
    : profile_(profile),
      servers_(servers),
      cookie_(cookie),
      mainWindow_(mainWindow),
      stopRequested_(std::move(stopRequested)) {}

PackageFetchResult PackageFetch::Run(const std::string& description, const std::string& localFolder,
                                     const std::string& remoteFolder) const {
  // Logs why the entry just read cannot be used; false when it can.
  const auto refused = [this](EntryRead read, const PackageEntry& entry, int unreadableLine, int shortLine) {
    switch (read) {
      case EntryRead::kOk: return false;
      case EntryRead::kUnreadable:
        WriteSourceLineLog(profile_.sourceName, unreadableLine, "GetPrivateProfileString");
        break;
      case EntryRead::kShort: WriteSourceLineLog(profile_.sourceName, shortLine, "vTemp.size()"); break;
      case EntryRead::kUnsafe:
        WriteSourceLineLog(profile_.sourceName, profile_.unsafeNameLine, "Package unsafe file name =%s",
                           entry.fileName.c_str());
        break;
    }
    return true;
  };

  const int count = GetPrivateProfileInt("Packages", "PackageNum", 0, description);
  double total = 0;
  PackageEntry entry;
  for (int j = 0; j < count; ++j) {
    const EntryRead read = ReadEntry(description, j, entry);
    if (refused(read, entry, profile_.sizingUnreadableLine, profile_.sizingShortLine)) {
      return PackageFetchResult::kSizingFailed;
    }
    total += entry.size;
  }
  const std::string totalText = SizeText(total);
  SendMessageTo(mainWindow_, profile_.totalSizeMessage, 0, reinterpret_cast<LParam>(totalText.c_str()));
  SendMessageTo(mainWindow_, profile_.countMessage, 0, count);

  const VerifiedDownloadLog log{profile_.sourceName, profile_.downloadFailedLine, profile_.md5WarningLine};
  double present = 0;
  for (int j = 0; j < count; ++j) {
    if (stopRequested_()) return PackageFetchResult::kCancelled;
    const EntryRead read = ReadEntry(description, j, entry);
    if (refused(read, entry, profile_.fetchUnreadableLine, profile_.fetchShortLine)) {
      return PackageFetchResult::kEntryFailed;
    }
    const std::string localPackage = localFolder + "\\" + entry.localName;
    std::string md5;
    const bool alreadyPresent =
        IsPathExist(localPackage) && GetMd5Checksum().MakeFileHex(localPackage, md5) && md5 == entry.md5;
    if (!alreadyPresent) {
      if (profile_.beforeDownloadMessage != 0) SendMessageTo(mainWindow_, profile_.beforeDownloadMessage);
      if (!servers_.DownloadVerified(remoteFolder + "\\" + entry.fileName, localPackage, entry.md5, cookie_, log,
                                     ListedSizeBound(entry.size))) {
        WriteSourceLineLogSpaced(profile_.sourceName, profile_.gaveUpLine, "PRO_GAME_PATCH_DOWNLOAD_ERROR  ");
        return PackageFetchResult::kDownloadFailed;
      }
    }
    present += entry.size;
    const std::string presentText = SizeText(present);
    SendMessageTo(mainWindow_, profile_.doneSizeMessage, 0, reinterpret_cast<LParam>(presentText.c_str()));
    SendMessageTo(mainWindow_, profile_.indexMessage, 0, j + 1);
  }
  return PackageFetchResult::kPresent;
}
