#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/transfer/DownAntFixtures.h"
#include "transfer/CDownManager.h"

using namespace DOWNANT;
using enum DownManagerState;
using namespace testsupport;
using downant_test::Bytes;
using downant_test::TraceRecorder;
namespace fs = std::filesystem;

namespace {

// The manager's reports, from whichever thread sends them.
class ReportLog : public CDownManager::Listener {
 public:
  void OnDownReport(DownReportKind kind, int64_t first, int64_t second) override {
    std::lock_guard lock(mutex_);
    reports_.push_back({kind, first, second});
  }
  std::vector<int64_t> Seconds(DownReportKind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> values;
    for (const auto& report : reports_) {
      if (report.kind == kind) values.push_back(report.second);
    }
    return values;
  }
  std::vector<int64_t> Firsts(DownReportKind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> values;
    for (const auto& report : reports_) {
      if (report.kind == kind) values.push_back(report.first);
    }
    return values;
  }

 private:
  struct Report {
    DownReportKind kind;
    int64_t first;
    int64_t second;
  };
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

class DownManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root_.path() / "a.bin", data_);
    fs::create_directory(work_.path() / "temp_d");
    fs::create_directory(work_.path() / "out");
  }

  const std::string data_ = Bytes(10000);
  TempDir root_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
};

}  // namespace

// How a download ends: the states reported, the file at the local path (an
// older one there beforehand), and the manager's trace; the segment file is
// gone however it ends.
TEST_F(DownManagerTest, DownloadsEndInTheirStates) {
  NginxServer nginx(root_.path());
  FaultServer fault(root_.path());
  const struct {
    std::string url;
    std::string localPath;
    std::vector<int64_t> states;
    const char* localFile;  // null: no file there afterwards
    std::string traceLine;
  } cases[] = {
      {nginx.url() + "/a.bin", "out\\a.bin", {1, 3, 4, 6}, "out/a.bin", "0,1:OnAntWorkOver[0] [0,0)"},
      {fault.url() + "/__status/404/a.bin", "out\\a.bin", {1, 3, 4, 8}, nullptr, "0,1:OnAntWorkFailed[0] [0,0)"},
      {fault.url() + "/__short/a.bin", "out\\a.bin", {1, 3, 4, 8}, nullptr, "0,1:OnAntWorkFailed[0] [0,0)"},
      {nginx.url() + "/a.bin", "missing\\a.bin", {1, 3, 4, 7}, nullptr, "0,1:OnAntWorkOver[0] [0,0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + " -> " + c.localPath);
    WriteFile(work_.path() / "out" / "a.bin", "older");
    fs::remove(work_.path() / "temp_d" / "~Qo.temp.a.0");
    TraceRecorder trace;
    ReportLog log;
    CDownManager manager;
    ASSERT_TRUE(manager.Init(c.url, c.localPath, &log));
    manager.Start();
    EXPECT_TRUE(manager.Wait(true));

    EXPECT_EQ(log.Seconds(kReportState), c.states);
    EXPECT_EQ(static_cast<int64_t>(manager.State()), c.states.back());
    if (c.localFile != nullptr) {
      EXPECT_EQ(ReadFile(work_.path() / c.localFile), data_);
    } else {
      EXPECT_FALSE(fs::exists(work_.path() / c.localPath));
    }
    EXPECT_FALSE(fs::exists(work_.path() / "temp_d" / "~Qo.temp.a.0"));
    EXPECT_TRUE(trace.Has(c.traceLine));
    EXPECT_EQ(log.Firsts(kReportRequest), std::vector<int64_t>{0});
  }
}

TEST_F(DownManagerTest, ProgressCountsTheBytesThatArrived) {
  NginxServer nginx(root_.path());
  TraceRecorder trace;
  ReportLog log;
  CDownManager manager;
  ASSERT_TRUE(manager.Init(nginx.url() + "/a.bin", "out\\a.bin", &log));
  manager.Start();
  ASSERT_TRUE(manager.Wait(true));
  EXPECT_EQ(log.Firsts(kReportSize), std::vector<int64_t>{10000});
  const std::vector<int64_t> positions = log.Seconds(kReportProgress);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.front(), 0);
  EXPECT_EQ(positions.back(), 10000);
  EXPECT_EQ(manager.TotalSize(), 10000);
  EXPECT_EQ(manager.Downloaded(), 10000);
  EXPECT_GE(manager.Speed(), 0);
  EXPECT_TRUE(trace.HasPrefix("0,0:BeginTickCount: "));
  EXPECT_TRUE(trace.Has("0,1:Ant Over:0"));
}

TEST_F(DownManagerTest, InitRefusesEmptyAndIllegalAddresses) {
  const struct {
    std::string url;
    std::string localPath;
    std::string text;
  } cases[] = {
      {"", "out\\a.bin", kTextUrlOrPathEmpty},
      {"http://127.0.0.1/a.bin", "", kTextUrlOrPathEmpty},
      {"nonsense", "out\\a.bin", "\xb7\xc7\xb7\xa8\xb5\xc4\xcf\xc2\xd4\xd8\xb5\xd8\xd6\xb7: nonsense"},
  };
  for (const auto& c : cases) {
    ReportLog log;
    CDownManager manager;
    EXPECT_FALSE(manager.Init(c.url, c.localPath, &log));
    EXPECT_EQ(log.Seconds(kReportState), std::vector<int64_t>{static_cast<int64_t>(kManagerPrepareFailed)});
    EXPECT_EQ(manager.Text(), c.text);
    manager.Start();  // not prepared: nothing happens
    EXPECT_EQ(manager.State(), kManagerPrepareFailed);
    EXPECT_FALSE(manager.Wait(true));  // nothing started: no wait
  }
}
