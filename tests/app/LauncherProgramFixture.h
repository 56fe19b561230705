// The fixture of the end-to-end tests of the launcher program: the built
// "TovaLauncher.exe" installed in a temporary game tree, server trees written
// by the publisher tool from game versions the fixture makes and served by
// nginx, and the analytics receiver that records the program's events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/Procedure/GameClientLock.h"
#include "tests/app/ProgramHarness.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"

namespace e2e {

// True when `expected` occurs in `names` in this order (other names between).
bool InOrder(const std::vector<std::string>& names, const std::vector<std::string>& expected);
// The names separated by blanks, for failure messages.
std::string Joined(const std::vector<std::string>& names);

class LauncherProgramTest : public testing::Test {
 protected:
  static constexpr std::chrono::seconds kRunTimeout{240};

  void SetUp() override;

  std::filesystem::path root() const { return temp_.path(); }
  std::filesystem::path gameDir() const { return root() / "game"; }
  std::filesystem::path launcherDir() const { return gameDir() / "launcher"; }

  // The launcher program that is installed and published.
  virtual std::filesystem::path Program() const;
  // The files of a game version (names with "/") and their bytes. The client
  // "client/meadow_jp.exe" records its arguments in "args.txt" and its
  // folder in "cwd.txt".
  virtual std::vector<std::string> GameFileNames(const std::string& version) const;
  virtual std::string GameFile(const std::string& name, const std::string& version) const;

  // Program() with `suffix` appended, executable, at `at`.
  void InstallProgram(const std::filesystem::path& at, const std::string& suffix = "") const;

  // What every program started by the tests gets in its environment: its own
  // Wine prefix, configuration and temporary folders, and no display.
  std::vector<std::string> Environment() const;

  std::unique_ptr<ProgramRun> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                    const std::string& input, const std::filesystem::path& folder) const;
  // The installed launcher in its folder under "strace -f -qq" with
  // `options` before the program. Leak checking is off in the traced
  // processes (LeakSanitizer cannot work under ptrace); every other
  // sanitizer check stays.
  std::unique_ptr<ProgramRun> StartTraced(const std::vector<std::string>& options, const std::string& input = "") const;
  // Runs the installed launcher in its folder; the exit status, -1 when it
  // did not end in time. `output` keeps what it showed.
  int Run(const std::vector<std::string>& args = {}, const std::string& input = "");
  int Finish(std::unique_ptr<ProgramRun> run);

  // The events received so far, in arrival order; names and texts.
  std::vector<ReceivedEvent> Events() const { return receiver_.Events(); }
  // While silent, the analytics service takes every event and never answers.
  void SetAnalyticsSilent(bool silent) const { receiver_.SetSilent(silent); }
  std::vector<std::string> EventNames() const;
  std::vector<std::string> EventTexts(const std::string& name) const;

  // The game's version folders and the launcher's, as publisher sources.
  std::filesystem::path GameSource(const std::string& version) const;
  std::filesystem::path LauncherSource(const std::string& tag, const std::string& programSuffix) const;

  // Publishes a server tree below servers/<name>/KVMETRA with launcher
  // version 1.0.0 and the game versions (oldest first), `options` added to
  // the publisher's command line, and returns its base URL on nginx (which
  // serves every tree below servers/).
  std::string Publish(const std::string& name, const std::filesystem::path& launcherSource,
                      const std::vector<std::string>& gameVersions, const std::vector<std::string>& options = {});
  std::filesystem::path ServerBase(const std::string& name) const;

  // launcher.ini with every server base set to `base`, and `extra` after it.
  void WriteConfig(const std::string& base, const std::string& extra = "");

  // The launcher folder as the server's launcher version has it.
  void InstallLauncherVersion(const std::string& server);
  // The game folder as an installation of `version` leaves it.
  void InstallGameVersion(const std::string& server, const std::string& version);

  void ExpectGameFilesOf(const std::string& version) const;

  // Waits for the client's records (it runs on after the launcher ended) and
  // checks how it was started.
  void ExpectClientStarted() const;

  // A run that needs no server: the self-update skipped by the debug switch,
  // a game list present, and "-repaire" answered no.
  void PrepareRepairQuestion(const std::filesystem::path& folder) const;

  std::string output;

 private:
  AnalyticsReceiver receiver_;  // first: the lock is held for the whole test
  // Exclusive for the whole test: the program starts the game client, and
  // the client checks of other test programs must not see it.
  testsupport::GameClientLock clientLock_;
  testsupport::TempDir temp_;
  std::unique_ptr<testsupport::NginxServer> nginx_;
};

}  // namespace e2e
