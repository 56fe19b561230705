#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "transfer/CAutoDownload_Curl.h"
#include "transfer/DownloadMessages.h"
#include "util/LaunchLog.h"

using namespace testsupport;
namespace fs = std::filesystem;
using enum DownloadState;

namespace {

std::string Bytes(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return data;
}

// What the notify window saw. The handlers query the downloader as the
// command window does; `onProgress` lets a test act during the transfer.
struct Recorder {
  std::vector<DownloadState> states;
  std::vector<WParam> cookies;
  int progressMessages = 0;
  int64_t lastTotal = 0;
  int64_t lastReceived = 0;
  bool foreignLParam = false;
  std::thread::id handlerThread;
  CAutoDownload* downloader = nullptr;
  std::function<void()> onProgress;

  MessageWindow window{[this](const Message& m) {
    handlerThread = std::this_thread::get_id();
    cookies.push_back(m.wParam);
    if (m.lParam != reinterpret_cast<LParam>(downloader)) foreignLParam = true;
    if (m.id == UM_DOWNLOAD_STATE) states.push_back(downloader->GetState());
    if (m.id == UM_DOWNLOAD_PROGRESS) {
      ++progressMessages;
      EXPECT_TRUE(downloader->GetProgress(&lastTotal, &lastReceived));
      if (onProgress) onProgress();
    }
  }};
};

// Works in a fresh current folder with "temp_d"; serves files from `root`.
class CurlDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(work_.path() / "temp_d");
    fs::create_directory(work_.path() / "out");
    downloader_ = CAutoDownload_Curl::Create();
    ASSERT_NE(downloader_, nullptr);
    recorder_.downloader = downloader_.get();
  }

  std::string Log() const {
    return fs::exists(work_.path() / kLaunchLogName) ? ReadFile(work_.path() / kLaunchLogName) : "";
  }
  bool Exists(const std::string& relative) const { return fs::exists(work_.path() / relative); }
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_.path() / "temp_d")) names.push_back(entry.path().filename());
    return names;
  }

  TempDir root_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  std::unique_ptr<CAutoDownload_Curl> downloader_;
  Recorder recorder_;
};

const std::vector<DownloadState> kStartedStates = {DL_READY, DL_RUNNING};

std::vector<DownloadState> Then(std::vector<DownloadState> states, std::initializer_list<DownloadState> more) {
  states.insert(states.end(), more);
  return states;
}

}  // namespace

TEST(DownloadTemporaryPath, UsesTheFileNameWithoutExtension) {
  const struct {
    const char* localPath;
    const char* expected;
  } cases[] = {
      {"C:\\game\\patch\\data.zip", "temp_d/~Qo.temp.data"},
      {"..\\GameInfo.ini", "temp_d/~Qo.temp.GameInfo"},
      {"pages/page.tar.gz", "temp_d/~Qo.temp.page.tar"},
      {"folder.d\\noext", "temp_d/~Qo.temp.noext"},
      {"C:data.zip", "temp_d/~Qo.temp.data"},
      {"plain", "temp_d/~Qo.temp.plain"},
      {"dir\\.hidden", "temp_d/~Qo.temp."},
  };
  for (const auto& c : cases) EXPECT_EQ(DownloadTemporaryPath(c.localPath), c.expected) << c.localPath;
}

TEST_F(CurlDownloadTest, DownloadsIntoTheLocalPathThroughTheTemporaryFile) {
  const std::string data = Bytes(700 * 1024);
  WriteFile(root_.path() / "pack" / "data.zip", data);
  NginxServer nginx(root_.path());

  EXPECT_FALSE(downloader_->GetProgress(nullptr, nullptr));  // nothing sampled yet
  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/pack/data.zip", "out\\data.zip", &recorder_.window, 3));
  EXPECT_TRUE(Exists("temp_d/~Qo.temp.data"));
  EXPECT_FALSE(downloader_->GetProgress(nullptr, nullptr));  // ready is not running
  downloader_->Start();
  EXPECT_TRUE(downloader_->Wait(true));

  EXPECT_EQ(recorder_.states, Then(kStartedStates, {DL_DONE}));
  EXPECT_EQ(downloader_->GetState(), DL_DONE);
  EXPECT_EQ(downloader_->GetResponseCode(), 200);
  EXPECT_EQ(ReadFile(work_.path() / "out" / "data.zip"), data);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_GT(recorder_.progressMessages, 0);
  EXPECT_EQ(recorder_.lastTotal, static_cast<int64_t>(data.size()));
  // The counts are sampled at most once a second: a transfer this short may
  // end with the sample of its first piece.
  EXPECT_GT(recorder_.lastReceived, 0);
  EXPECT_LE(recorder_.lastReceived, static_cast<int64_t>(data.size()));
  EXPECT_EQ(recorder_.cookies, std::vector<WParam>(recorder_.cookies.size(), 3));
  EXPECT_FALSE(recorder_.foreignLParam);

  downloader_->Reset();
  EXPECT_EQ(recorder_.states.back(), DL_IDLE);
}

// The faults a server can make, each judged by the final state, the status
// kept and whether the local path was written; no fault leaves its bytes in
// "temp_d".
TEST_F(CurlDownloadTest, FaultsEndInTheirStateAndNeverTouchTheLocalPath) {
  const std::string data = Bytes(40 * 1024);
  WriteFile(root_.path() / "a.bin", data);
  FaultServer fault(root_.path());
  const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLocalPort()) + "/a.bin";
  const struct {
    std::string url;
    DownloadState end;
    int32_t responseCode;
    bool placed;
    bool progress;
  } cases[] = {
      {fault.url() + "/a.bin", DL_DONE, 200, true, true},
      {fault.url() + "/__redirect/a.bin", DL_DONE, 200, true, true},
      {fault.url() + "/__status/404/a.bin", DL_FAILED, 404, false, true},
      {fault.url() + "/__status/500/a.bin", DL_FAILED, 500, false, true},
      {fault.url() + "/__status/206/a.bin", DL_FAILED, 206, false, true},
      {fault.url() + "/__short/a.bin", DL_FAILED, 0, false, true},
      {fault.url() + "/__nolength/a.bin", DL_LENGTH_MISMATCH, 200, false, false},
      {refused, DL_FAILED, 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    // A fresh downloader each time, so that the response code starts at 0.
    auto downloader = CAutoDownload_Curl::Create();
    Recorder recorder;
    recorder.downloader = downloader.get();
    fs::remove_all(work_.path() / "out");
    fs::create_directory(work_.path() / "out");

    ASSERT_TRUE(downloader->Prepare(c.url, "out\\a.bin", &recorder.window, 5));
    downloader->Start();
    EXPECT_EQ(recorder.states, Then(kStartedStates, {c.end}));
    EXPECT_EQ(downloader->GetResponseCode(), c.responseCode);
    EXPECT_EQ(Exists("out/a.bin"), c.placed);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(recorder.progressMessages > 0, c.progress);
    if (c.placed) {
      EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data);
    }
    downloader->Reset();
  }
  EXPECT_NE(Log().find("file len not mate httpLen = -1,downedlen = 40960"), std::string::npos);
}

// A body that passes the transfer's bound is aborted there and fails, with
// the status of its response kept and nothing left on the disk; a body of
// exactly the bound arrives.
TEST_F(CurlDownloadTest, ABodyPastItsBoundIsAbortedAndLeavesNothing) {
  WriteFile(root_.path() / "version", "1.0.2\r\n");
  FaultServer fault(root_.path());
  const struct {
    const char* path;
    uint64_t maxBytes;
    DownloadState end;
    int32_t responseCode;
  } cases[] = {
      {"/version", 7, DL_DONE, 200},
      {"/version", 6, DL_FAILED, 200},
      {"/__nolength/version", 6, DL_FAILED, 200},
      {"/__flood/version", 63, DL_FAILED, 200},
      {"/__status/404/version", 4, DL_FAILED, 404},  // its body is "fault"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.maxBytes));
    auto downloader = CAutoDownload_Curl::Create();
    WriteFile(work_.path() / "out" / "version", "older");
    ASSERT_TRUE(downloader->Prepare(fault.url() + c.path, "out\\version", nullptr, 1, c.maxBytes));
    downloader->Start();
    EXPECT_EQ(downloader->GetState(), c.end);
    EXPECT_EQ(downloader->GetResponseCode(), c.responseCode);
    EXPECT_EQ(ReadFile(work_.path() / "out" / "version"), c.end == DL_DONE ? "1.0.2\r\n" : "older");
    EXPECT_TRUE(TempFiles().empty());
  }
}

// A transfer prepared and never started leaves no file behind.
TEST_F(CurlDownloadTest, ResetAfterPrepareRemovesTheTemporaryFile) {
  ASSERT_TRUE(downloader_->Prepare("http://127.0.0.1:1/a.bin", "out\\a.bin", nullptr, 1));
  EXPECT_FALSE(TempFiles().empty());
  downloader_->Reset();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CurlDownloadTest, ReplacesAReadOnlyFileAndPlacesAcrossFileSystems) {
  WriteFile(root_.path() / "new.ini", "new contents");
  NginxServer nginx(root_.path());
  WriteFile(work_.path() / "out" / "new.ini", "old");
  fs::permissions(work_.path() / "out" / "new.ini", fs::perms::owner_read);

  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/new.ini", "out\\new.ini", &recorder_.window, 1));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetState(), DL_DONE);
  EXPECT_EQ(ReadFile(work_.path() / "out" / "new.ini"), "new contents");

  // /dev/shm is a file system of its own: the rename cannot be used there.
  std::string shared = "/dev/shm/launcher-download-" + std::to_string(::getpid());
  fs::create_directory(shared);
  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/new.ini", shared + "/new.ini", &recorder_.window, 1));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetState(), DL_DONE);
  EXPECT_EQ(ReadFile(shared + "/new.ini"), "new contents");
  EXPECT_TRUE(TempFiles().empty());
  fs::remove_all(shared);
}

TEST_F(CurlDownloadTest, AnUnplaceableFileIsLoggedAndItsTemporaryFileDeleted) {
  WriteFile(root_.path() / "x.bin", "payload");
  NginxServer nginx(root_.path());
  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/x.bin", "missing\\x.bin", &recorder_.window, 1));
  downloader_->Start();
  EXPECT_EQ(recorder_.states, Then(kStartedStates, {DL_MOVE_FAILED}));
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_NE(Log().find("FILE =transfer\\CAutoDownload_Curl.cpp, Line =210,DownFile Error MoveFile Error ErrorCode =" +
                       std::to_string(ENOENT)),
            std::string::npos);
}

TEST_F(CurlDownloadTest, PrepareRefusesMissingInputsAndAMissingTemporaryFolder) {
  // No window yet: the failure is not notified.
  EXPECT_FALSE(downloader_->Prepare("", "out\\a.bin", &recorder_.window, 1));
  EXPECT_EQ(downloader_->GetState(), DL_PREPARE_FAILED);
  EXPECT_TRUE(recorder_.states.empty());
  downloader_->Start();  // not prepared: nothing happens
  EXPECT_EQ(downloader_->GetState(), DL_PREPARE_FAILED);
  EXPECT_TRUE(recorder_.states.empty());

  ASSERT_TRUE(downloader_->Prepare("http://127.0.0.1:1/a.bin", "out\\a.bin", &recorder_.window, 7));
  // An empty path is notified with the earlier window and cookie, and the
  // job keeps them.
  Recorder other;
  other.downloader = downloader_.get();
  EXPECT_FALSE(downloader_->Prepare("http://127.0.0.1:1/b.bin", "", &other.window, 8));
  EXPECT_EQ(recorder_.states, (std::vector<DownloadState>{DL_READY, DL_PREPARE_FAILED}));
  EXPECT_EQ(recorder_.cookies, (std::vector<WParam>{7, 7}));
  EXPECT_TRUE(other.states.empty());

  fs::remove_all(work_.path() / "temp_d");
  EXPECT_FALSE(downloader_->Prepare("http://127.0.0.1:1/a.bin", "out\\a.bin", &recorder_.window, 7));
  EXPECT_EQ(downloader_->GetState(), DL_PREPARE_FAILED);
}

// Stop from the notify window while the server stalls: the transfer ends in
// DL_FAILED after passing DL_IDLE; a Prepare meanwhile is refused and changes
// nothing.
TEST_F(CurlDownloadTest, StopDuringATransferFailsItAndPrepareIsRefusedMeanwhile) {
  WriteFile(root_.path() / "big.bin", Bytes(64 * 1024));
  FaultServer fault(root_.path());
  bool refused = false;
  recorder_.onProgress = [&] {
    if (recorder_.progressMessages != 1) return;
    refused = !downloader_->Prepare(fault.url() + "/big.bin", "out\\other.bin", &recorder_.window, 99);
    EXPECT_EQ(downloader_->GetState(), DL_RUNNING);
    downloader_->Stop();
  };
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__stall/big.bin", "out\\big.bin", &recorder_.window, 4));
  downloader_->Start();
  EXPECT_TRUE(refused);
  EXPECT_EQ(recorder_.states, Then(kStartedStates, {DL_IDLE, DL_FAILED}));
  EXPECT_EQ(recorder_.lastTotal, 64 * 1024);
  EXPECT_EQ(recorder_.lastReceived, 1024);
  EXPECT_EQ(recorder_.cookies, std::vector<WParam>(recorder_.cookies.size(), 4));
  EXPECT_FALSE(Exists("out/big.bin"));
  EXPECT_FALSE(Exists("temp_d/~Qo.temp.other"));
  downloader_->Reset();
  EXPECT_EQ(recorder_.states.back(), DL_IDLE);
}

// The download runs on a worker while the notify window's thread handles the
// reports, as with a procedure and the command window; a stalled server is
// left by the low-speed abort (shortened here from 30 s to 1 s).
TEST_F(CurlDownloadTest, WorkerReportsToTheWindowThreadAndALowSpeedTransferIsAborted) {
  const std::string data = Bytes(2 * 1024 * 1024);
  WriteFile(root_.path() / "big.bin", data);
  FaultServer fault(root_.path());
  auto downloader = CAutoDownload_Curl::Create(std::chrono::seconds(1));
  recorder_.downloader = downloader.get();

  for (const char* path : {"/big.bin", "/__stall/big.bin"}) {
    SCOPED_TRACE(path);
    recorder_.states.clear();
    std::atomic<bool> finished = false;
    std::thread worker([&] {
      if (downloader->Prepare(fault.url() + path, "out\\big.bin", &recorder_.window, 2)) downloader->Start();
      downloader->Reset();
      finished = true;
    });
    MessageLoop::RunUntil([&] { return finished.load(); }, std::chrono::milliseconds(5));
    worker.join();
    EXPECT_EQ(recorder_.handlerThread, std::this_thread::get_id());
    const DownloadState end = std::string(path) == "/big.bin" ? DL_DONE : DL_FAILED;
    EXPECT_EQ(recorder_.states, Then(kStartedStates, {end, DL_IDLE}));
  }
  EXPECT_EQ(ReadFile(work_.path() / "out" / "big.bin"), data);
}

// Prepare does not clear what the previous transfer left: the response code
// of a 404 survives a transfer that completed no request.
TEST_F(CurlDownloadTest, AReusedDownloaderKeepsTheLastResponseCode) {
  WriteFile(root_.path() / "a.bin", Bytes(4096));
  FaultServer fault(root_.path());
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__status/404/a.bin", "out\\a.bin", nullptr, 0));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetResponseCode(), 404);
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__short/a.bin", "out\\a.bin", nullptr, 0));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetState(), DL_FAILED);
  EXPECT_EQ(downloader_->GetResponseCode(), 404);
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/a.bin", "out\\a.bin", nullptr, 0));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetState(), DL_DONE);
  EXPECT_EQ(downloader_->GetResponseCode(), 200);
}

// The speed meter keeps its sample until more than 1000 ms have passed. Each
// progress report advances the clock by `step`: with 1000 ms every second
// report takes a new sample, over 2000 ms; with 1001 ms every report does.
TEST_F(CurlDownloadTest, TheSpeedMeterResamplesOnlyAfterMoreThanOneSecond) {
  const int64_t size = 4 * 1024 * 1024;
  WriteFile(root_.path() / "big.bin", Bytes(size));
  NginxServer nginx(root_.path());
  for (uint32_t step : {1000u, 1001u}) {
    SCOPED_TRACE(step);
    uint32_t now = 0xFFFFF000u;  // the tick counter wraps during the download
    auto downloader = CAutoDownload_Curl::Create(CAutoDownload_Curl::kLowSpeedTime, [&] { return now += step; });
    Recorder recorder;
    recorder.downloader = downloader.get();
    std::vector<int64_t> received;
    std::vector<int32_t> speeds;
    recorder.onProgress = [&] {
      received.push_back(recorder.lastReceived);
      speeds.push_back(downloader->GetSpeed());
    };
    ASSERT_TRUE(downloader->Prepare(nginx.url() + "/big.bin", "out\\big.bin", &recorder.window, 1));
    downloader->Start();
    ASSERT_EQ(downloader->GetState(), DL_DONE);
    ASSERT_GT(received.size(), 3u);
    EXPECT_EQ(speeds[0], 0);  // the first sample measures nothing
    for (size_t i = 1; i < received.size(); ++i) {
      SCOPED_TRACE(i);
      if (step == 1000 && i % 2 == 1) {
        EXPECT_EQ(received[i], received[i - 1]);
        EXPECT_EQ(speeds[i], speeds[i - 1]);
      } else if (step == 1000) {
        EXPECT_EQ(speeds[i], (received[i] - received[i - 2]) / 2);
      } else {
        EXPECT_EQ(speeds[i], static_cast<int32_t>((received[i] - received[i - 1]) / 1.001));
      }
    }
    if (step == 1001) {
      EXPECT_EQ(received.back(), size);
    }
  }
}

namespace {

// The sent.log lines of one fault server, as (Range, bytes) pairs.
std::vector<std::pair<std::string, int64_t>> SentAnswers(const FaultServer& server) {
  std::vector<std::pair<std::string, int64_t>> answers;
  std::istringstream lines(server.sent());
  std::string rest, range;
  int64_t bytes = 0;
  while (lines >> rest >> range >> bytes) answers.emplace_back(range, bytes);
  return answers;
}

}  // namespace

// A transfer cut by the server keeps its bytes and record; the next one asks
// for the rest, and whatever the server answers the result is the server's
// file at that moment.
TEST_F(CurlDownloadTest, ACutTransferIsResumedOrRestartedAsTheServerAnswers) {
  constexpr int64_t kSize = 300 * 1024;
  constexpr int64_t kCut = 100000;
  const std::string data = Bytes(kSize);
  std::string changed = data;
  changed[kSize / 2] ^= 0x5A;
  const struct {
    const char* name;
    const char* mode;
    bool changeFile;
    std::vector<std::pair<std::string, int64_t>> secondAnswers;
  } cases[] = {
      {"rest asked and appended", "range", false, {{"bytes=100000-", kSize - kCut}}},
      {"file changed: sent whole", "range", true, {{"bytes=100000-", kSize}}},
      {"ranges ignored", "ignore", false, {{"bytes=100000-", kSize}}},
      {"range refused: whole file asked", "refuse", false, {{"bytes=100000-", 0}, {"-", kSize}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(root_.path() / "a.bin", data);
    FaultServer fault(root_.path());
    const std::string prefix = fault.url() + "/__resumable/" + c.mode + "/";
    ASSERT_TRUE(downloader_->Prepare(prefix + std::to_string(kCut) + "/a.bin", "out\\a.bin", nullptr, 1));
    downloader_->Start();
    downloader_->Reset();
    ASSERT_EQ(fs::file_size(work_.path() / "temp_d/~Qo.temp.a"), static_cast<uintmax_t>(kCut));
    ASSERT_TRUE(Exists("temp_d/~Qo.temp.a.part"));

    const std::string expected = c.changeFile ? changed : data;
    if (c.changeFile) WriteFile(root_.path() / "a.bin", changed);
    // A fresh downloader, whose first progress sample is this transfer's.
    auto second = CAutoDownload_Curl::Create();
    Recorder recorder;
    recorder.downloader = second.get();
    int64_t firstReceived = -1;
    recorder.onProgress = [&] {
      if (firstReceived < 0) firstReceived = recorder.lastReceived;
    };
    ASSERT_TRUE(second->Prepare(prefix + "0/a.bin", "out\\a.bin", &recorder.window, 2));
    second->Start();
    EXPECT_EQ(second->GetState(), DL_DONE);
    EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), expected);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(recorder.lastTotal, kSize);
    // Resumed, the progress goes on from the bytes held.
    if (c.secondAnswers.back().second < kSize) {
      EXPECT_GT(firstReceived, kCut);
    }
    std::vector<std::pair<std::string, int64_t>> answers = SentAnswers(fault);
    ASSERT_FALSE(answers.empty());
    answers.erase(answers.begin());  // the cut one
    EXPECT_EQ(answers, c.secondAnswers);
    fs::remove(work_.path() / "out" / "a.bin");
  }
}

// Bytes whose record does not describe them, or describes another local file,
// are dropped and the file is asked for whole.
TEST_F(CurlDownloadTest, APartialFileIsResumedOnlyWhenItsRecordMatches) {
  constexpr int64_t kSize = 200 * 1024;
  const std::string data = Bytes(kSize);
  WriteFile(root_.path() / "a.bin", data);
  const struct {
    const char* name;
    std::string localPath;
    std::function<void(const fs::path& partial, const fs::path& record)> damage;
    bool resumed;
  } cases[] = {
      {"untouched", "out\\a.bin", [](const fs::path&, const fs::path&) {}, true},
      {"partial file shorter", "out\\a.bin", [](const fs::path& p, const fs::path&) { fs::resize_file(p, 5000); },
       false},
      {"partial file longer", "out\\a.bin",
       [](const fs::path& p, const fs::path&) { fs::resize_file(p, fs::file_size(p) + 1); }, false},
      {"record cut", "out\\a.bin", [](const fs::path&, const fs::path& r) { fs::resize_file(r, fs::file_size(r) / 2); },
       false},
      {"record missing", "out\\a.bin", [](const fs::path&, const fs::path& r) { fs::remove(r); }, false},
      {"another local file with the same temporary path", "out\\a.zip", [](const fs::path&, const fs::path&) {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer fault(root_.path());
    ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__resumable/range/60000/a.bin", "out\\a.bin", nullptr, 1));
    downloader_->Start();
    downloader_->Reset();
    c.damage(work_.path() / "temp_d/~Qo.temp.a", work_.path() / "temp_d/~Qo.temp.a.part");

    ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__resumable/range/0/a.bin", c.localPath, nullptr, 1));
    downloader_->Start();
    EXPECT_EQ(downloader_->GetState(), DL_DONE);
    EXPECT_EQ(ReadFile(work_.path() / "out" / fs::path(c.localPath.substr(4))), data);
    const auto answers = SentAnswers(fault);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].first, c.resumed ? "bytes=60000-" : "-");
    EXPECT_TRUE(TempFiles().empty());
    downloader_->Reset();
    fs::remove_all(work_.path() / "out");
    fs::create_directory(work_.path() / "out");
  }
}

// Bytes that can be resumed survive a failed status from another server, a
// prepared transfer that never started, and a Stop; a server without
// validators leaves nothing to resume.
TEST_F(CurlDownloadTest, ResumableBytesSurviveFailedAttemptsOnlyWithValidators) {
  const std::string data = Bytes(100 * 1024);
  WriteFile(root_.path() / "a.bin", data);
  FaultServer fault(root_.path());
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__resumable/range/30000/a.bin", "out\\a.bin", nullptr, 1));
  downloader_->Start();
  downloader_->Reset();
  ASSERT_TRUE(Exists("temp_d/~Qo.temp.a.part"));

  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__status/500/a.bin", "out\\a.bin", nullptr, 1));
  downloader_->Start();
  downloader_->Reset();
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__status/404/a.bin", "out\\a.bin", nullptr, 1));
  downloader_->Reset();  // never started
  EXPECT_EQ(fs::file_size(work_.path() / "temp_d/~Qo.temp.a"), 30000u);
  EXPECT_TRUE(Exists("temp_d/~Qo.temp.a.part"));

  // The fault server's plain answers carry no validator.
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__short/a.bin", "out\\a.bin", nullptr, 1));
  downloader_->Start();
  EXPECT_EQ(downloader_->GetState(), DL_FAILED);
  EXPECT_TRUE(TempFiles().empty());
}
