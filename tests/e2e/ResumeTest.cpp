// Interrupted downloads across launcher runs: a page cut short in one run, or
// by a launcher killed during its transfer, is finished in the next from the
// bytes kept, or fetched whole when the server cannot continue them or the
// kept bytes are not the page's; every second run ends with the published
// game.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;

constexpr const char* kPage = "InstallVersion/InstallPage_1.0/page0.zip";
// The first run's server ends every answer after a fortieth of the page: the
// run's attempts (three verified downloads of six transfers from that
// address) hold less than half of it.
constexpr uintmax_t kCutParts = 40;

class ResumeTest : public FaultChainTest {
 protected:
  void SetUp() override {
    // A page of a few MiB.
    levelCount_ = 1;
    levelBytes_ = 2 * 1024 * 1024;
    FaultChainTest::SetUp();
  }

  // The body bytes the fault server sent for page 0 of server `name`, one
  // entry per answer: (Range asked, bytes).
  std::vector<std::pair<std::string, uintmax_t>> PageAnswers(const std::string& name) const {
    std::vector<std::pair<std::string, uintmax_t>> answers;
    std::istringstream lines(FaultServerSent());
    std::string path, range;
    uintmax_t bytes = 0;
    while (lines >> path >> range >> bytes) {
      if (path.starts_with(name + "/KVMETRA/" + kPage)) answers.emplace_back(range, bytes);
    }
    return answers;
  }
};

TEST_F(ResumeTest, APageCutInOneRunIsFinishedInTheNextAsTheServerAllows) {
  PublishPristine();
  const fs::path kept = launcherDir() / "temp_d" / "~Qo.temp.page0";
  const struct {
    const char* what;
    const char* mode;  // of the second run's server
    std::function<void(const std::string& name)> between;
    bool resumed;  // the second run's answer continues the bytes kept
  } cases[] = {
      {"the rest is fetched", "range", [](const std::string&) {}, true},
      {"the page changed on the server: fetched whole", "range",
       [&](const std::string& name) {
         // Another zip comment: other bytes, the same files.
         const fs::path pages = ServerBase(name) / "InstallVersion" / "InstallPage_1.0";
         ASSERT_EQ(testsupport::RunShell("cd '" + pages.string() + "' && echo changed | zip -q -z page0.zip"), 0);
         e2e::RewritePackageEntry(pages, "page0.zip", "intallinfo_1.0.ini");
       },
       false},
      {"a server that ignores ranges", "ignore", [](const std::string&) {}, false},
      {"a server that refuses ranges", "refuse", [](const std::string&) {}, false},
      {"the kept bytes were damaged: the MD5 check fails and the next address sends the page", "range",
       [&](const std::string&) {
         std::string bytes = testsupport::ReadFile(kept);
         bytes[bytes.size() / 2] ^= 0x01;
         testsupport::WriteFile(kept, bytes);
       },
       true},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "resume" + std::to_string(index++);
    const std::string base = CopyOfPristine(name);
    ResetGameTree(name);
    fs::remove_all(launcherDir() / "temp_d");
    const uintmax_t size = fs::file_size(ServerBase(name) / kPage);
    const uintmax_t cut = size / kCutParts;

    // First run: the page never arrives whole and no other address has it.
    ServePrimary("");
    WriteBases({base, FaultBase("__resumable/range/" + std::to_string(cut), name), base, base});
    size_t mark = Events().size();
    Run({}, "");
    EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_InstallWithMode", "LE_InstallByCPFail"}))
        << Joined(EventNamesSince(mark));
    ASSERT_TRUE(fs::exists(kept)) << LaunchLog();
    EXPECT_TRUE(fs::exists(kept.string() + ".part"));
    const uintmax_t held = fs::file_size(kept);
    EXPECT_GT(held, size / 4);
    EXPECT_EQ(held % cut, 0u);
    c.between(name);
    const uintmax_t newSize = fs::file_size(ServerBase(name) / kPage);
    const size_t firstRunAnswers = PageAnswers(name).size();

    // Second run: the same address without the cut, the primary behind it.
    WaitForProcessesInGameTree();
    ServePrimary(name);
    WriteBases({base, FaultBase(std::string("__resumable/") + c.mode + "/0", name), base, base});
    mark = Events().size();
    EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
    EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_InstallSuccess", "LE_GamePatchNoNeed"}))
        << Joined(EventNamesSince(mark));
    ExpectClientStarted();
    ExpectPublished(name, kLatest);
    EXPECT_FALSE(fs::exists(kept));

    const auto answers = PageAnswers(name);
    ASSERT_GT(answers.size(), firstRunAnswers);
    const auto& [range, bytes] = answers[firstRunAnswers];
    EXPECT_EQ(range, "bytes=" + std::to_string(held) + "-");
    if (c.resumed) {
      EXPECT_EQ(bytes, newSize - held);
    } else {
      // The whole page in this answer, or (refused) in the next.
      const uintmax_t whole = bytes != 0 ? bytes : answers.at(firstRunAnswers + 1).second;
      EXPECT_EQ(whole, newSize);
    }
    if (std::string(c.mode) == "range" && c.resumed && c.what == cases[0].what) {
      // Over both runs the page was sent once.
      uintmax_t total = 0;
      for (const auto& answer : answers) total += answer.second;
      EXPECT_GE(total, size);
      EXPECT_LE(total, size + size / 100);
    }
    WaitForProcessesInGameTree();
    RemoveClientRecords();
  }
}

// A launcher killed while a page arrives never settles its transfer: the note
// written when the body began lets the next run ask for the rest of what
// reached the file.
TEST_F(ResumeTest, APageWhoseLauncherWasKilledDuringTheTransferIsFinishedInTheNextRun) {
  PublishPristine();
  const std::string name = "killed";
  const std::string base = CopyOfPristine(name);
  ResetGameTree(name);
  const fs::path kept = launcherDir() / "temp_d" / "~Qo.temp.page0";
  const uintmax_t size = fs::file_size(ServerBase(name) / kPage);

  // The server sends three quarters of the page and then nothing: the
  // launcher's file holds what its write buffer has passed on.
  ServePrimary("");
  WriteBases({base, FaultBase("__resumable/hold/" + std::to_string(size * 3 / 4), name), base, base});
  std::unique_ptr<e2e::ProgramRun> run = Start(launcherDir() / "TovaLauncher.exe", {}, "", launcherDir());
  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  std::error_code error;
  while (!(fs::exists(kept.string() + ".part") && fs::file_size(kept, error) >= size / 4)) {
    ASSERT_FALSE(run->Wait(std::chrono::milliseconds(0)).has_value()) << LaunchLog();
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << LaunchLog();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.reset();  // killed
  WaitForProcessesInGameTree();
  const uintmax_t held = fs::file_size(kept);
  const size_t firstRunAnswers = PageAnswers(name).size();

  ServePrimary(name);
  WriteBases({base, FaultBase("__resumable/range/0", name), base, base});
  const size_t mark = Events().size();
  EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
  EXPECT_TRUE(InOrder(EventNamesSince(mark), {"LE_InstallSuccess", "LE_GamePatchNoNeed"}))
      << Joined(EventNamesSince(mark));
  ExpectPublished(name, kLatest);
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_FALSE(fs::exists(kept.string() + ".part"));
  const auto answers = PageAnswers(name);
  ASSERT_GT(answers.size(), firstRunAnswers);
  EXPECT_EQ(answers[firstRunAnswers], std::make_pair("bytes=" + std::to_string(held) + "-", size - held));
  WaitForProcessesInGameTree();
}

}  // namespace
