// What the procedure tests share: a game folder with the launcher folder
// inside it as the current folder (both inside a sandbox folder, so that a
// name climbing out of the game folder still lands in the test's own space), nginx serving an update-server tree, the
// real download service with the curl downloader, and a main window that
// records every message with the texts it carries, read during the send.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Procedure/DownloadService.h"
#include "Procedure/ServerAddressSet.h"
#include "Procedure/StopEvent.h"
#include "tests/Procedure/GameClientLock.h"
#include "tests/Procedure/MainWindowRecorder.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestBytes.h"
#include "transfer/CAutoDownload_Curl.h"

namespace testsupport {

// One message as the main window saw it.
struct SeenMessage {
  Message message;
  std::string text;  // the text argument, for messages that carry one
};

// One call of the download function and its result.
struct DownloadCall {
  std::string url;
  std::string localPath;
  int32_t cookie = 0;
  uint64_t maxBytes = 0;
  bool ok = false;
};

// Relative name ("/" separators) -> bytes.
using VersionFiles = std::map<std::string, std::string>;

struct VersionInput {
  std::string version;
  VersionFiles files;
};

// A file as a hand-written list names it (lists made by the publisher use
// "/" and the check flag 1): its name, bytes and check flag.
struct ListedFile {
  std::string name;
  std::string bytes;
  int checkFlag = 0;
};

// The list entry "name,MD5,CRC,size,flag" of a file.
std::string ListEntry(const ListedFile& file);
// A plain version file list.
std::string VersionListText(const std::string& version, const std::vector<ListedFile>& files);
// The protected form of `plain`, with the build's key.
std::string Protected(const std::string& plain);
// A byte count as the procedures format it for their messages ("%lf").
std::string SizeText(double bytes);
// A list name ("\" separators) as a relative path of this system.
std::filesystem::path ListPath(const std::string& name);

class ProcedureRunTest : public testing::Test {
 protected:
  ProcedureRunTest();

  // "<nginx>/KVMETRA", and a base on a port nothing listens on.
  std::string ServerBase() const { return server_.url() + "/KVMETRA"; }
  std::string UnreachableBase() const;
  // Where the server serves `relative` ("/" separators) below the base.
  std::filesystem::path Served(const std::string& relative) const;
  // The sandbox, the game folder ("..\" of the launcher) in it, and the
  // launcher folder.
  const std::filesystem::path& sandbox() const { return sandbox_.path(); }
  const std::filesystem::path& game() const { return game_; }
  const std::filesystem::path& launcher() const { return launcher_; }

  // Publishes the launcher and game versions (each oldest first) below the
  // server base with the publisher tool, once per test. `smallPackages`
  // splits installation pages and patch packages at 4 KiB.
  void Publish(const std::vector<VersionInput>& launcherVersions, const std::vector<VersionInput>& gameVersions,
               bool smallPackages = false);
  // The numbered packages `prefix`0.zip, `prefix`1.zip, ... of the served
  // folder `relative`, in order, with their sizes.
  std::vector<std::pair<std::string, int64_t>> ServedPackages(const std::string& relative,
                                                              const std::string& prefix) const;
  // Copies the served folder `relative` (below the base) into `destination`.
  void CopyServed(const std::string& relative, const std::filesystem::path& destination) const;
  // Writes the files below `folder`.
  static void Install(const std::filesystem::path& folder, const VersionFiles& files);
  // What is in `folder`, every regular file by its relative name, except
  // the folders named in `skip` at its top.
  static VersionFiles FolderFiles(const std::filesystem::path& folder, const std::vector<std::string>& skip = {});

  // The download service, recording every call in downloads_.
  DownloadFunction Download();

  // The messages other than the download progress and retry ones, one line each:
  // "latest 1.0.2", "step 1 3", "name data\a.dat", "patch total 12.000000".
  // With `withApplier` false the applier's messages (0x4507 to 0x4518) are
  // left out as well.
  std::vector<std::string> Trace(bool withApplier = true) const;
  std::vector<std::string> LogLines() const;
  // The launch-log lines that begin with `prefix`.
  std::vector<std::string> LogLinesStartingWith(const std::string& prefix) const;
  // The URLs asked for, and how many of the calls fetched something ending in `suffix`.
  std::vector<std::string> DownloadedUrls() const;
  int DownloadsOf(const std::string& suffix) const;

  // Shared for the test's whole run: no other test's stand-in client runs.
  GameClientLock clientLock_;
  TempDir serverRoot_;
  NginxServer server_{serverRoot_.path()};
  TempDir sources_;  // the version folders given to the publisher
  TempDir sandbox_;
  std::filesystem::path game_;
  std::filesystem::path launcher_;
  CurrentDirScope cwd_;

  MainWindowRecorder main_;
  std::vector<SeenMessage> seen_;
  // Called for every message after it was recorded, still inside the send.
  std::function<void(const SeenMessage&)> onSeen_;
  std::unique_ptr<CAutoDownload_Curl> transfer_;
  DownloadService service_;
  std::vector<DownloadCall> downloads_;
  StopEvent stop_;
};

}  // namespace testsupport
