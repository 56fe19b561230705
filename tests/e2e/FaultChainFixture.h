// The whole chain under faults: the program fixture of tests/app with the
// test build of the launcher (its primary update server root is a port these
// tests serve, see CMakeLists.txt), a game whose size the test chooses, the
// servers that play the backup and the primary, and the checks that a game
// and a launcher folder hold exactly what was published.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/LauncherProgramFixture.h"
#include "tests/support/LocalServers.h"
#include "tests/support/ScopedMount.h"

namespace e2e {

// The project's fault server on a port given by the caller, serving `root`
// plainly (its fault prefixes work as well). Stopped by the destructor.
class FixedPortServer {
 public:
  FixedPortServer(const std::filesystem::path& root, int port, const std::filesystem::path& logs);
  ~FixedPortServer();
  FixedPortServer(const FixedPortServer&) = delete;
  FixedPortServer& operator=(const FixedPortServer&) = delete;

  // Empty when the server listens; otherwise why it does not.
  const std::string& problem() const { return problem_; }

 private:
  pid_t pid_ = -1;
  std::string problem_;
};

// A running process that looks like the game client to the launcher: its
// first argument is "meadow_jp.exe". Killed and reaped by the destructor if
// it still runs.
class FakeClient {
 public:
  explicit FakeClient(const std::filesystem::path& folder);
  ~FakeClient();
  FakeClient(const FakeClient&) = delete;
  FakeClient& operator=(const FakeClient&) = delete;

  // True while the process runs (it has not ended and been reaped).
  bool Running();

 private:
  pid_t pid_ = -1;
};

// Sets the size and MD5 of the package `zip` in the plain description
// `description`, both in `folder` of a server tree, to those of the zip as it
// is now, so that a changed package downloads and verifies.
void RewritePackageEntry(const std::filesystem::path& folder, const std::string& zip, const std::string& description);

class FaultChainTest : public LauncherProgramTest {
 protected:
  // Published versions, oldest first; the installation pages offered are
  // those of the first, so an installation is followed by both patches.
  static inline const std::vector<std::string> kVersions = {"1.0", "1.1", "1.2"};
  static constexpr const char* kLatest = "1.2";

  void SetUp() override;

  std::filesystem::path Program() const override;
  // Every version: the client, a text file and "data/big.bin" (300 KiB,
  // changed in a few bytes per version, so patches carry deltas), plus
  // `levelCount_` files "data/level<i>.bin" of `levelBytes_` alike.
  // "readme.txt" lives in 1.0 and 1.1; 1.1 adds "data/new/added.txt" and
  // "data/movie.bin" (512 KiB of text).
  std::vector<std::string> GameFileNames(const std::string& version) const override;
  std::string GameFile(const std::string& name, const std::string& version) const override;

  // Publishes every version as server "pristine" (with the launcher folder's
  // program as launcher 1.0.0 and `options` for the publisher) and returns
  // its base URL on nginx.
  std::string PublishPristine(const std::vector<std::string>& options = {});
  // A copy of the pristine tree as server `name`; its base URL on nginx.
  std::string CopyOfPristine(const std::string& name);
  // Server `mirror` holding only the files of server `from` whose path below
  // KVMETRA ends with one of `suffixes` (a mirror that lacks the rest).
  void PartialMirror(const std::string& from, const std::string& mirror, const std::vector<std::string>& suffixes);
  // The base URL of server `name` on the fault server, through `prefix`
  // (such as "__corrupt"); the fault server starts on first use.
  std::string FaultBase(const std::string& prefix, const std::string& name);
  // The fault server's record of the body bytes of its /__resumable/
  // answers (testsupport::FaultServer::sent); empty before its first use.
  std::string FaultServerSent() const { return fault_ ? fault_->sent() : std::string(); }
  // A base on a port nothing listens on.
  static std::string ClosedBase();

  // The primary update server of the test build serving server `name`, or
  // nothing (empty name).
  void ServePrimary(const std::string& name);

  // launcher.ini with a base per key ([game] gameUrl gets `repaire`).
  struct Bases {
    std::string launcher, install, update, repaire;
  };
  void WriteBases(const Bases& bases);

  // The game folder removed, the launcher folder as server `server`'s
  // launcher version (its program is the one published), and no client
  // records.
  void ResetGameTree(const std::string& server);
  void RemoveClientRecords() const;

  // Waits until no process (but zombies) works in the game tree any more:
  // the game client, or children left by a killed launcher.
  void WaitForProcessesInGameTree() const;
  // Kills every process that still works in the game folder: a launcher that
  // did not end in time keeps running when its tracer is killed.
  void KillProcessesInGameTree() const;

  // Events received since `mark` (a count of events).
  std::vector<std::string> EventNamesSince(size_t mark) const;
  std::vector<std::string> EventTextsSince(size_t mark, const std::string& name) const;
  std::string LaunchLog() const;

  // The game folder (without the launcher folder and the client's records)
  // holds exactly the files of version `version` of server `server`; the
  // launcher folder holds every file of its launcher version.
  void ExpectPublished(const std::string& server, const std::string& version) const;
  // What differs from that, one line per file; empty when nothing does.
  std::string PublishedDifference(const std::string& server, const std::string& version) const;

  int levelCount_ = 0;
  size_t levelBytes_ = 0;

 private:
  std::string nginxUrl_;  // serves every tree below servers/
  std::unique_ptr<testsupport::FaultServer> fault_;
  std::unique_ptr<FixedPortServer> primary_;
};

}  // namespace e2e
