// The launcher program on a real pseudo-terminal: what the terminal shows
// after the whole run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/app/LauncherProgramFixture.h"
#include "tests/support/TerminalScreen.h"

namespace {

using e2e::LauncherProgramTest;

// A self-update replaces the launcher's process image twice (the installed
// launcher, then its copy); the terminal ends with one block, the last
// copy's, and nothing of the first copy's above it.
TEST_F(LauncherProgramTest, OnATerminalARelaunchLeavesOneBlock) {
  const std::string base = Publish("selfupdate", LauncherSource("2", "\nnewer build\n"), {"1.0"});
  InstallGameVersion("selfupdate", "1.0");
  WriteConfig(base);
  e2e::ProgramRun run({(launcherDir() / "TovaLauncher.exe").string()}, launcherDir(), "", Environment(), 50);
  std::optional<int> status;
  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  while (!status && std::chrono::steady_clock::now() < deadline) {
    status = run.Wait(std::chrono::milliseconds(10));
    run.Output();  // keeps the terminal from filling up
  }
  EXPECT_EQ(status, 0);
  ExpectClientStarted();
  EXPECT_EQ(EventTexts("LE_LauncherStart").size(), 2u);  // one per window

  testsupport::TerminalScreen screen(50, e2e::ProgramRun::kTerminalRows, true);
  screen.Feed(run.Output());
  const std::vector<std::string> lines = screen.Lines();
  EXPECT_EQ(screen.problems(), std::vector<std::string>{});
  // Every block has one progress bar.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("["); }), 1)
      << testing::PrintToString(lines);
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << testing::PrintToString(lines);
}

}  // namespace
