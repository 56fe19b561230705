#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Procedure/DownloadService.h"
#include "Procedure/ProcedureMessages.h"
#include "platform/MessageBox.h"
#include "tests/Procedure/LaunchLogLines.h"
#include "tests/Procedure/MainWindowRecorder.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "transfer/CAutoDownload_Curl.h"
#include "transfer/DownloadMessages.h"
#include "util/LaunchLog.h"
#include "util/TextUtil.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum DownloadState;

namespace {

std::string Bytes(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return data;
}

DownloadService::Clock FixedClock(uint32_t tick) {
  return [tick] { return tick; };
}

std::vector<std::string> AttemptLines(const std::string& label, int count, const std::string& localPath,
                                      const std::string& display) {
  return std::vector<std::string>(count, "start file download: " + label + " " + localPath + " <-- " + display + " ");
}

std::vector<std::string> operator+(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// A downloader whose progress the test sets; it transfers nothing.
class ScriptedProgress : public CAutoDownload {
 public:
  bool progress = true;
  int64_t total = 0;
  int64_t received = 0;

  int GetKind() const override { return 0; }
  DownloadState GetState() const override { return DL_RUNNING; }
  bool GetProgress(int64_t* totalOut, int64_t* receivedOut) const override {
    if (!progress) return false;
    *totalOut = total;
    *receivedOut = received;
    return true;
  }
  int32_t GetSpeed() const override { return 0; }
  bool Prepare(const std::string&, const std::string&, MessageWindow*, int, uint64_t) override { return false; }
  void Reset() override {}
  void Start() override {}
  void Stop() override {}
  bool Wait(bool) override { return true; }
};

// Works in a fresh current folder with "out"; the servers serve `root_`.
class DownloadServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(work_.path() / "out");
    transfer_ = CAutoDownload_Curl::Create();
    ASSERT_NE(transfer_, nullptr);
  }
  void TearDown() override { SetMessageBoxPresenter(nullptr); }

  std::vector<std::string> LogLines() const { return LaunchLogLines(work_.path()); }
  std::string Local(const std::string& name) const { return ReadFile(work_.path() / "out" / name); }

  TempDir root_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  MainWindowRecorder main_;
  std::unique_ptr<CAutoDownload_Curl> transfer_;
};

}  // namespace

// The address keeps the launcher's "\" form; the display form has slashes and
// the tick, the transmitted form is percent-encoded after the host. The main
// window hears of each retry, with its number, before its attempt begins.
TEST_F(DownloadServiceTest, SixFailedAttemptsFlipTheLabelTwiceAndLeaveTheLocalFile) {
  FaultServer server(root_.path());
  WriteFile(work_.path() / "out" / "file_1.bin", "old");
  DownloadService service(transfer_.get(), FixedClock(4242));
  service.Init(main_.window());
  std::vector<std::pair<WParam, size_t>> retries;  // attempt, log lines written before it
  main_.onMessage = [&](const Message& message) {
    if (message.id != UM_DOWNLOAD_RETRY) return;
    EXPECT_EQ(message.lParam, 6);
    retries.emplace_back(message.wParam, LogLines().size());
  };
  const std::string url = server.url() + "\\files\\file_1.bin";
  const std::string display = server.url() + "/files/file_1.bin?rand=4242";
  const std::string transmitted = server.url() + "/files/file%5F1.bin?rand%3D4242";

  // The state is read after the last attempt's Reset.
  EXPECT_FALSE(service.DownloadFile(url, "out\\file_1.bin", 3, kNoSizeLimit));
  const std::vector<std::string> failed = AttemptLines("Curl", 3, "out\\file_1.bin", display) +
                                          AttemptLines("Ant", 3, "out\\file_1.bin", display) +
                                          std::vector<std::string>{"start file download fail: 3 out\\file_1.bin <-- " +
                                                                   transmitted + " ResponseCode =404, State = 0"};
  EXPECT_EQ(LogLines(), failed);
  std::string sixRequests;
  for (int i = 0; i < 6; ++i) sixRequests += "GET /files/file%5F1.bin?rand%3D4242\n";
  EXPECT_EQ(server.requests(), sixRequests);
  EXPECT_EQ(Local("file_1.bin"), "old");
  EXPECT_EQ(retries, (std::vector<std::pair<WParam, size_t>>{{2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}}));

  // Two flips: the next download is labelled "Curl" again.
  WriteFile(root_.path() / "files" / "file_1.bin", "new");
  EXPECT_TRUE(service.DownloadFile(url, "out\\file_1.bin", 3, kNoSizeLimit));
  EXPECT_EQ(LogLines(),
            failed + AttemptLines("Curl", 1, "out\\file_1.bin", display) +
                std::vector<std::string>{"start file download success : 3 out\\file_1.bin <-- " + display + " "});
  EXPECT_EQ(Local("file_1.bin"), "new");
  EXPECT_EQ(retries.size(), 5u);  // a first attempt is no retry
}

// A download cut after every eighth of its bytes: the six attempts of the
// first call keep six eighths, and the next run's service (which empties
// "temp_d" of everything else) fetches the rest. The server sends each byte
// once.
TEST_F(DownloadServiceTest, ACutDownloadGoesOnAtTheNextAttemptAndInTheNextRun) {
  constexpr size_t kCut = 40000;
  std::string data(8 * kCut, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  WriteFile(root_.path() / "page.zip", data);
  FaultServer server(root_.path());
  const std::string url = server.url() + "/__resumable/range/" + std::to_string(kCut) + "/page.zip";
  {
    DownloadService run(transfer_.get(), FixedClock(1));
    run.Init(main_.window());
    EXPECT_FALSE(run.DownloadFile(url, "out\\page.zip", 5, kNoSizeLimit));
  }
  EXPECT_EQ(fs::file_size(work_.path() / "temp_d" / "~Qo.temp.page"), 6 * kCut);
  WriteFile(work_.path() / "temp_d" / "~Qo.temp.other", "left by a run cut short");

  DownloadService nextRun(transfer_.get(), FixedClock(2));
  nextRun.Init(main_.window());
  EXPECT_TRUE(nextRun.DownloadFile(url, "out\\page.zip", 5, kNoSizeLimit));
  EXPECT_EQ(Local("page.zip"), data);
  EXPECT_TRUE(fs::is_empty(work_.path() / "temp_d"));
  std::string expected;
  for (size_t held = 0; held < data.size(); held += kCut) {
    expected += "page.zip?rand=" + std::to_string(held < 6 * kCut ? 1 : 2) + " " +
                (held == 0 ? std::string("-") : "bytes=" + std::to_string(held) + "-") + " " + std::to_string(kCut) +
                "\n";
  }
  EXPECT_EQ(server.sent(), expected);
}

// The file appears on the server during the third attempt (from the progress
// report of its 404 answer), so the fourth attempt, the first of the second
// round, succeeds and the label stays flipped for the next download.
TEST_F(DownloadServiceTest, SuccessAtTheFourthAttemptLeavesTheLabelFlipped) {
  FaultServer server(root_.path());
  WriteFile(root_.path() / "next.ini", "next");
  const std::string data = Bytes(50 * 1024);
  DownloadService service(transfer_.get(), FixedClock(77));
  service.Init(main_.window());
  main_.onMessage = [&](const Message& message) {
    const std::vector<std::string> lines = LogLines();
    const auto attempts = std::count_if(
        lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("start file download: "); });
    if (message.id == UM_DOWNLOAD_BYTES && attempts == 3) WriteFile(root_.path() / "late.bin", data);
  };

  const std::string display = server.url() + "/late.bin?rand=77";
  EXPECT_TRUE(service.DownloadFile(server.url() + "/late.bin", "out\\late.bin", 5, kNoSizeLimit));
  EXPECT_EQ(LogLines(),
            AttemptLines("Curl", 3, "out\\late.bin", display) + AttemptLines("Ant", 1, "out\\late.bin", display) +
                std::vector<std::string>{"start file download success : 5 out\\late.bin <-- " + display + " "});
  EXPECT_EQ(Local("late.bin"), data);

  main_.onMessage = nullptr;
  EXPECT_TRUE(service.DownloadFile(server.url() + "/next.ini", "out\\next.ini", 5, kNoSizeLimit));
  EXPECT_EQ(LogLines()[5], "start file download: Ant out\\next.ini <-- " + server.url() + "/next.ini?rand=77 ");
}

TEST_F(DownloadServiceTest, AnEmptyUrlWritesNothingAndCreatesNoFolder) {
  DownloadService service(transfer_.get(), FixedClock(1));
  service.Init(main_.window());
  EXPECT_FALSE(service.DownloadFile("", "out\\a.bin", 1, kNoSizeLimit));
  EXPECT_FALSE(fs::exists(work_.path() / "temp_d"));
  EXPECT_FALSE(fs::exists(work_.path() / kLaunchLogName));
  EXPECT_TRUE(main_.messages.empty());
}

// A 1 MiB file system: the notice is shown over the main window and nothing
// is requested, also for a path whose folders do not exist yet. The same
// download into the large file system goes ahead.
TEST_F(DownloadServiceTest, TooLittleFreeSpaceShowsTheNoticeAndRequestsNothing) {
  const fs::path tiny = work_.path() / "tiny";
  fs::create_directory(tiny);
  if (mount("tmpfs", tiny.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "a small file system cannot be mounted here: " << std::strerror(errno);
  }
  struct Unmount {
    const fs::path& path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{tiny};

  WriteFile(root_.path() / "a.bin", "payload");
  FaultServer server(root_.path());
  struct Asked {
    std::string text;
    std::string caption;
    MessageWindow* owner;
  };
  std::vector<Asked> asked;
  SetMessageBoxPresenter([&](const std::string& text, const std::string& caption, MessageWindow* owner) {
    asked.push_back({text, caption, owner});
    return kMessageBoxYes;
  });
  DownloadService service(transfer_.get(), FixedClock(1));
  service.Init(main_.window());

  for (const char* localPath : {"tiny\\a.bin", "tiny\\new\\deeper\\a.bin"}) {
    EXPECT_FALSE(service.DownloadFile(server.url() + "/a.bin", localPath, 1, kNoSizeLimit)) << localPath;
  }
  ASSERT_EQ(asked.size(), 2u);
  for (const Asked& question : asked) {
    EXPECT_EQ(question.text, "所要ディスクスペース（容量）不足");
    EXPECT_EQ(question.caption, "メッセージ");
    EXPECT_EQ(question.owner, main_.window());
  }
  EXPECT_EQ(server.requests(), "");
  EXPECT_TRUE(LogLines().empty());

  EXPECT_TRUE(service.DownloadFile(server.url() + "/a.bin", "out\\a.bin", 1, kNoSizeLimit));
  EXPECT_EQ(Local("a.bin"), "payload");
}

// A file system of 2 GiB + 64 MiB that leftovers of 96 MiB bring below the
// 2 GiB the download service asks for. What a cut-short run left in "temp_d"
// is removed, and what lies in a staging folder counts as free (the folder's
// owner empties or reuses it); other files still count as used.
TEST_F(DownloadServiceTest, TheLaunchersOwnLeftoversDoNotBlockTheFreeSpaceCheck) {
  const fs::path disk = work_.path() / "disk";
  fs::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2112m") != 0) {
    GTEST_SKIP() << "a file system cannot be mounted here: " << std::strerror(errno);
  }
  struct Unmount {
    const fs::path& path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  CurrentDirScope inDisk(disk);
  fs::create_directory(disk / "out");

  WriteFile(root_.path() / "a.bin", "payload");
  FaultServer server(root_.path());
  int notices = 0;
  SetMessageBoxPresenter([&](const std::string&, const std::string&, MessageWindow*) {
    ++notices;
    return kMessageBoxYes;
  });
  DownloadService service(transfer_.get(), FixedClock(1));
  service.Init(main_.window());

  const struct {
    const char* leftover;
    bool downloads;
    bool leftoverStays;
  } cases[] = {
      {"temp_d/~Qo.temp.version", true, false},
      {"TempUpdata/Unzip/data/big.bin", true, true},
      {"temp_patch/AutoPatch_1.0_1.1/package0.zip", true, true},
      {"other/big.bin", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.leftover);
    fs::remove(disk / "out" / "a.bin");
    notices = 0;
    WriteFile(disk / c.leftover, std::string(96 << 20, '\0'));
    EXPECT_EQ(service.DownloadFile(server.url() + "/a.bin", "out\\a.bin", 1, kNoSizeLimit), c.downloads);
    EXPECT_EQ(fs::exists(disk / "out" / "a.bin"), c.downloads);
    EXPECT_EQ(notices, c.downloads ? 0 : 1);
    EXPECT_EQ(fs::exists(disk / c.leftover), c.leftoverStays);
    fs::remove(disk / c.leftover);
  }
}

// The command window's pacing, driven with a scripted downloader and clock:
// every successful progress query gives UM_DOWNLOAD_BYTES (low 32 bits of the
// counts); UM_DOWNLOAD_SPEED follows when more than 1000 ms (unsigned
// difference) have passed since the last one and the reports of the transfer
// span a second at least, with the bytes of the last seconds over their time.
TEST_F(DownloadServiceTest, ProgressIsForwardedEveryTimeAndAMeasuredSpeedAtMostOncePerSecond) {
  ScriptedProgress transfer;
  uint32_t now = 0;
  DownloadService service(&transfer, [&now] { return now; });
  service.Init(main_.window());

  const struct {
    uint32_t tick;
    bool progress;
    int64_t received;
    int64_t total;
    std::optional<int32_t> speed;  // of the UM_DOWNLOAD_SPEED that follows UM_DOWNLOAD_BYTES
  } steps[] = {
      {100, true, 0x100000005, 0x200000007, std::nullopt},
      {500, true, 1000, 100000, std::nullopt},  // another transfer: nothing measured yet
      {1500, true, 3000, 100000, 2000},
      {2500, true, 5000, 100000, std::nullopt},  // 1000 ms after the last speed
      {2501, true, 5002, 100000, 2000},
      // A failed query sends nothing and is not measured.
      {9000, false, 90000, 100000, std::nullopt},
      // Across the wrap of the 32-bit tick, another transfer.
      {0xFFFFFC18, true, 10, 2000, std::nullopt},
      {0x000003E8, true, 2010, 2000, 1000},
      {0x000004E8, true, 2110, 2000, std::nullopt},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.tick);
    now = step.tick;
    transfer.progress = step.progress;
    transfer.received = step.received;
    transfer.total = step.total;
    main_.messages.clear();
    SendMessageTo(service.CommandWindow(), UM_DOWNLOAD_STATE, 1, reinterpret_cast<LParam>(&transfer));
    SendMessageTo(service.CommandWindow(), UM_DOWNLOAD_PROGRESS, 1, reinterpret_cast<LParam>(&transfer));
    if (!step.progress) {
      EXPECT_TRUE(main_.messages.empty());
      continue;
    }
    ASSERT_EQ(main_.messages.size(), step.speed ? 2u : 1u);
    EXPECT_EQ(main_.messages[0].message.id, UM_DOWNLOAD_BYTES);
    EXPECT_EQ(main_.messages[0].message.wParam, static_cast<uint32_t>(step.received));
    EXPECT_EQ(main_.messages[0].message.lParam, static_cast<uint32_t>(step.total));
    if (!step.speed) continue;
    EXPECT_EQ(main_.messages[1].message.id, UM_DOWNLOAD_SPEED);
    EXPECT_EQ(main_.messages[1].message.wParam, static_cast<WParam>(*step.speed));
    EXPECT_EQ(main_.messages[1].speedText, FormatByteSize(*step.speed));
  }
}

// A real download on a worker thread while this thread runs the message loop:
// the command window's reports reach the main window on this thread. (The
// counts are the downloader's samples, renewed about once a second.) Held to
// 2 MiB/s, it lasts long enough for speed reports, none of which reads 0
// while the bytes flow.
TEST_F(DownloadServiceTest, ARealDownloadReportsItsProgressOnTheUiThread) {
  const std::string data = Bytes(3 * 1024 * 1024);
  transfer_->SetReceiveSpeedLimit(2 * 1024 * 1024);
  WriteFile(root_.path() / "big.bin", data);
  NginxServer nginx(root_.path());
  std::atomic<uint32_t> lastClockRead = 0;
  DownloadService service(transfer_.get(), [&] {
    lastClockRead = GetTickCount32();
    return lastClockRead.load();
  });
  service.Init(main_.window());
  std::vector<uint32_t> speedTicks;
  bool onUiThread = true;
  main_.onMessage = [&](const Message& message) {
    onUiThread = onUiThread && std::this_thread::get_id() == main_.window()->owner();
    if (message.id == UM_DOWNLOAD_SPEED) speedTicks.push_back(lastClockRead);
  };

  std::atomic<bool> done = false;
  bool complete = false;
  std::thread worker([&] {
    complete = service.DownloadFile(nginx.url() + "/big.bin", "out\\big.bin", 1, kNoSizeLimit);
    done = true;
  });
  MessageLoop::RunUntil([&] { return done.load(); }, std::chrono::milliseconds(5));
  worker.join();

  EXPECT_TRUE(complete);
  EXPECT_TRUE(onUiThread);
  const std::vector<RecordedMessage> bytes = main_.Only(UM_DOWNLOAD_BYTES);
  ASSERT_FALSE(bytes.empty());
  WParam previous = 0;
  for (const RecordedMessage& report : bytes) {
    EXPECT_EQ(report.message.lParam, static_cast<LParam>(data.size()));
    EXPECT_GE(report.message.wParam, previous);
    previous = report.message.wParam;
  }
  const std::vector<RecordedMessage> speeds = main_.Only(UM_DOWNLOAD_SPEED);
  ASSERT_FALSE(speeds.empty());
  for (const RecordedMessage& report : speeds) {
    EXPECT_EQ(report.speedText, FormatByteSize(static_cast<int32_t>(report.message.wParam)));
    EXPECT_GT(report.message.wParam, 0u);
  }
  for (size_t i = 1; i < speedTicks.size(); ++i) EXPECT_GT(speedTicks[i] - speedTicks[i - 1], 1000u);
}

// Abandon from the main window's handler during the transfer: the transfer is
// stopped, no further attempt is made and nothing reaches the local path.
TEST_F(DownloadServiceTest, AbandonEndsTheRunningDownloadAndRefusesLaterOnes) {
  WriteFile(root_.path() / "big.bin", Bytes(32 * 1024 * 1024));
  NginxServer nginx(root_.path());
  DownloadService service(transfer_.get(), FixedClock(9));
  service.Init(main_.window());
  main_.onMessage = [&](const Message& message) {
    if (message.id == UM_DOWNLOAD_BYTES) service.Abandon();
  };

  EXPECT_FALSE(service.DownloadFile(nginx.url() + "/big.bin", "out\\big.bin", 1, kNoSizeLimit));
  EXPECT_EQ(LogLines(), AttemptLines("Curl", 1, "out\\big.bin", nginx.url() + "/big.bin?rand=9"));
  EXPECT_FALSE(fs::exists(work_.path() / "out" / "big.bin"));
  EXPECT_EQ(transfer_->GetState(), DL_IDLE);

  EXPECT_FALSE(service.DownloadFile(nginx.url() + "/big.bin", "out\\big.bin", 1, kNoSizeLimit));
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(DownloadServiceTest, WithoutADownloaderTheDownloadFailsWithItsFailureLine) {
  DownloadService service(nullptr, FixedClock(7));
  service.Init(main_.window());
  EXPECT_FALSE(service.DownloadFile("http://127.0.0.1:1/a_b.bin", "out\\a_b.bin", 2, kNoSizeLimit));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"start file download fail: 2 out\\a_b.bin <-- "
                                                 "http://127.0.0.1:1/a%5Fb.bin?rand%3D7 ResponseCode =0, State = 0"});
}
