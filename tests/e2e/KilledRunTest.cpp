// The launcher killed (SIGKILL) at random points during the installation and
// during the patches, and started again each time: the run after the last
// kill, answering yes to whatever it asks, must end with the published game.
// The points come from a seeded generator (LAUNCHER_E2E_SEED, or a fixed
// seed); each is a delay after the phase began, up to the time the phase
// took in an uninterrupted run of the same game.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::ProgramRun;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr uint32_t kDefaultSeed = 20240611;
constexpr int kRounds = 4;
constexpr Ms kPoll{2};
// Lines of the launch log where the phases begin.
constexpr const char* kInstallBegins = "Start Install Game Page!";
constexpr const char* kPatchBegins = "start game autopatch";

class KilledRunTest : public FaultChainTest {
 protected:
  void SetUp() override {
    // Several pages and several deltas per patch, so that the phases last a
    // while: seven files of 1 MiB, each on a page of its own.
    levelCount_ = 6;
    levelBytes_ = 1024 * 1024;
    FaultChainTest::SetUp();
  }

  static uint32_t Seed() {
    const char* text = std::getenv("LAUNCHER_E2E_SEED");
    return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
  }

  // Starts the launcher with the launch log of the previous run removed (so
  // that only this run's lines are looked for).
  std::unique_ptr<ProgramRun> StartFresh(const std::string& input) {
    fs::remove(launcherDir() / "Launch.log");
    return Start(launcherDir() / "TovaLauncher.exe", {}, input, launcherDir());
  }

  // Runs the launcher to its end and notes when each of `lines` first
  // appeared in the launch log, and when the run ended ("end").
  std::map<std::string, Ms> Timeline(const std::vector<std::string>& lines) {
    std::map<std::string, Ms> seen;
    const Clock::time_point start = Clock::now();
    std::unique_ptr<ProgramRun> run = StartFresh("");
    for (;;) {
      const bool ended = run->Wait(Ms(0)).has_value();
      const std::string log = LaunchLog();
      const Ms now = std::chrono::duration_cast<Ms>(Clock::now() - start);
      for (const std::string& line : lines) {
        if (seen.count(line) == 0 && log.find(line) != std::string::npos) seen[line] = now;
      }
      if (ended) {
        seen["end"] = now;
        EXPECT_EQ(Finish(std::move(run)), 0) << output;
        return seen;
      }
      if (now > kRunTimeout) {
        ADD_FAILURE() << "the uninterrupted run did not end";
        return seen;
      }
      std::this_thread::sleep_for(kPoll);
    }
  }

  // One round: starts the launcher, waits until the launch log shows
  // `phaseLine`, waits `delay` more and kills it. A run that ends before is
  // left to end. Returns what happened, for the trace.
  std::string KillRound(const std::string& phaseLine, Ms delay) {
    std::unique_ptr<ProgramRun> run = StartFresh("");
    const Clock::time_point deadline = Clock::now() + kRunTimeout;
    while (LaunchLog().find(phaseLine) == std::string::npos) {
      if (run->Wait(Ms(0)).has_value()) return "ended before the phase";
      if (Clock::now() > deadline) return "never reached the phase";
      std::this_thread::sleep_for(kPoll);
    }
    std::this_thread::sleep_for(delay);
    const bool ended = run->Wait(Ms(0)).has_value();
    run.reset();  // kills the program if it still runs
    WaitForProcessesInGameTree();
    const std::string log = LaunchLog();
    const size_t lastLine = log.rfind('\n', log.size() >= 2 ? log.size() - 2 : 0);
    return std::string(ended ? "ended by itself" : "killed") + " after " + std::to_string(delay.count()) +
           " ms; last log line: " + log.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
  }

  // Kills the launcher kRounds times in the phase that `phaseLine` begins,
  // then runs it to the end with yes to every question.
  void KillAndRecover(const std::string& phaseLine, Ms phaseLength, std::mt19937& random) {
    std::uniform_int_distribution<int> delays(0, static_cast<int>(std::max<int64_t>(phaseLength.count(), 1)));
    std::string rounds;
    for (int round = 0; round < kRounds; ++round) rounds += KillRound(phaseLine, Ms(delays(random))) + "\n";
    std::printf("%s", rounds.c_str());  // where the kills landed, for the record
    SCOPED_TRACE(rounds);
    RemoveClientRecords();
    EXPECT_EQ(Finish(StartFresh("y\ny\ny\ny\n")), 0) << output << LaunchLog();
    ExpectClientStarted();
    ExpectPublished("pristine", kLatest);
    WaitForProcessesInGameTree();
  }
};

TEST_F(KilledRunTest, KilledDuringTheInstallationAndThePatchesThenStartedAgain) {
  const std::string base = PublishPristine({"--page-size", "1M"});
  const uint32_t seed = Seed();
  RecordProperty("seed", std::to_string(seed));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set LAUNCHER_E2E_SEED to repeat another)");
  std::mt19937 random(seed);

  // How long the phases take without a kill.
  ResetGameTree("pristine");
  WriteBases({base, base, base, base});
  std::map<std::string, Ms> timeline = Timeline({kInstallBegins, kPatchBegins});
  ASSERT_EQ(timeline.count(kInstallBegins) + timeline.count(kPatchBegins), 2u);
  const Ms installLength = timeline[kPatchBegins] - timeline[kInstallBegins];
  const Ms patchLength = timeline["end"] - timeline[kPatchBegins];
  RecordProperty("install_ms", std::to_string(installLength.count()));
  RecordProperty("patch_ms", std::to_string(patchLength.count()));

  {
    SCOPED_TRACE("killed during the installation");
    ResetGameTree("pristine");
    WriteBases({base, base, base, base});
    KillAndRecover(kInstallBegins, installLength, random);
  }
  {
    SCOPED_TRACE("killed during the patches");
    ResetGameTree("pristine");
    InstallGameVersion("pristine", kVersions.front());
    WriteBases({base, base, base, base});
    KillAndRecover(kPatchBegins, patchLength, random);
  }
}

}  // namespace
