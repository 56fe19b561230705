#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/transfer/DownAntFixtures.h"
#include "transfer/CAutoDownload_DownAnt.h"
#include "transfer/DownloadMessages.h"

using namespace testsupport;
using downant_test::Bytes;
namespace fs = std::filesystem;
using enum DownloadState;

namespace {

// Threads of this process.
size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// The thread count once a thread has been joined: the kernel may list the
// ended thread for a moment longer, so the count is read again until it is
// `expected` or a second has passed.
size_t ThreadCountAfterJoin(size_t expected) {
  size_t count = ThreadCount();
  for (int i = 0; i < 100 && count != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = ThreadCount();
  }
  return count;
}

// The notify window, owned by the test thread; the worker's reports reach it
// while the test thread waits in Wait(true). Handlers query the downloader as
// the command window does.
struct Recorder {
  CAutoDownload* downloader = nullptr;
  std::vector<DownloadState> states;
  std::vector<WParam> cookies;
  int progressMessages = 0;
  bool progressKnown = false;  // GetProgress returned true at some message
  int64_t lastTotal = 0;
  int64_t lastReceived = 0;
  std::function<void()> onProgress;

  MessageWindow window{[this](const Message& m) {
    cookies.push_back(m.wParam);
    EXPECT_EQ(m.lParam, reinterpret_cast<LParam>(downloader));
    if (m.id == UM_DOWNLOAD_STATE) states.push_back(downloader->GetState());
    if (m.id == UM_DOWNLOAD_PROGRESS) {
      ++progressMessages;
      if (downloader->GetProgress(&lastTotal, &lastReceived)) progressKnown = true;
      if (onProgress) onProgress();
    }
  }};
};

class DownAntDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    // A sanitizer runtime may start a helper thread with the program's first
    // thread; one started here keeps it out of the counts the tests take.
    std::thread([] {}).join();
    WriteFile(root_.path() / "a.bin", data_);
    fs::create_directory(work_.path() / "temp_d");
    fs::create_directory(work_.path() / "out");
    recorder_.downloader = downloader_.get();
  }

  bool Exists(const std::string& relative) const { return fs::exists(work_.path() / relative); }

  const std::string data_ = Bytes(64 * 1024);
  TempDir root_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  std::unique_ptr<CAutoDownload_DownAnt> downloader_ = std::make_unique<CAutoDownload_DownAnt>();
  Recorder recorder_;
};

const char* const kSegmentFile = "temp_d/~Qo.temp.a.0";

}  // namespace

TEST_F(DownAntDownloadTest, ASuccessfulTransferPlacesTheFileAndLeavesNoSegmentFile) {
  NginxServer nginx(root_.path());
  WriteFile(work_.path() / "out" / "a.bin", "older");
  EXPECT_EQ(downloader_->GetKind(), 0);
  EXPECT_EQ(downloader_->GetState(), DL_IDLE);

  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/a.bin", "out\\a.bin", &recorder_.window, 3));
  EXPECT_EQ(downloader_->GetState(), DL_READY);
  EXPECT_FALSE(downloader_->GetProgress(nullptr, nullptr));
  downloader_->Start();
  EXPECT_TRUE(downloader_->Wait(true));

  EXPECT_EQ(recorder_.states, (std::vector<DownloadState>{DL_READY, DL_RUNNING, DL_DONE}));
  EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data_);
  EXPECT_FALSE(Exists(kSegmentFile));
  EXPECT_GT(recorder_.progressMessages, 0);
  EXPECT_EQ(recorder_.lastTotal, static_cast<int64_t>(data_.size()));
  EXPECT_EQ(recorder_.lastReceived, static_cast<int64_t>(data_.size()));
  EXPECT_EQ(recorder_.cookies, std::vector<WParam>(recorder_.cookies.size(), 3));
  EXPECT_EQ(downloader_->GetResponseCode(), 0);

  // Reset announces the job's DL_IDLE while the old manager still answers
  // GetState; the new one then reports DL_IDLE.
  downloader_->Reset();
  EXPECT_EQ(recorder_.states.size(), 4u);
  EXPECT_EQ(downloader_->GetState(), DL_IDLE);
}

TEST_F(DownAntDownloadTest, A404EndsInMoveFailedAndRemovesAnOlderFileAtTheLocalPath) {
  FaultServer fault(root_.path());
  WriteFile(work_.path() / "out" / "a.bin", "older");
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__status/404/a.bin", "out\\a.bin", &recorder_.window, 1));
  downloader_->Start();
  EXPECT_TRUE(downloader_->Wait(true));
  EXPECT_EQ(recorder_.states, (std::vector<DownloadState>{DL_READY, DL_RUNNING, DL_MOVE_FAILED}));
  EXPECT_FALSE(Exists("out/a.bin"));
  EXPECT_FALSE(Exists(kSegmentFile));
}

// A body that passes the bound stops the transfer before the piece that
// passes it is written; it fails and leaves nothing behind. A body of
// exactly the bound arrives.
TEST_F(DownAntDownloadTest, ABodyPastItsBoundFailsAndLeavesNothing) {
  FaultServer fault(root_.path());
  const struct {
    const char* path;
    uint64_t maxBytes;
    DownloadState end;
  } cases[] = {
      {"/a.bin", data_.size(), DL_DONE},
      {"/a.bin", data_.size() - 1, DL_MOVE_FAILED},
      {"/__flood/a.bin", 63, DL_MOVE_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.maxBytes));
    CAutoDownload_DownAnt downloader;
    ASSERT_TRUE(downloader.Prepare(fault.url() + c.path, "out\\a.bin", nullptr, 1, c.maxBytes));
    downloader.Start();
    EXPECT_TRUE(downloader.Wait(true));
    EXPECT_EQ(downloader.GetState(), c.end);
    EXPECT_EQ(Exists("out/a.bin"), c.end == DL_DONE);
    EXPECT_FALSE(Exists(kSegmentFile));
  }
}

TEST_F(DownAntDownloadTest, WithoutContentLengthTheFileArrivesWholeButProgressIsNeverKnown) {
  FaultServer fault(root_.path());
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__nolength/a.bin", "out\\a.bin", &recorder_.window, 1));
  downloader_->Start();
  EXPECT_TRUE(downloader_->Wait(true));
  EXPECT_EQ(downloader_->GetState(), DL_DONE);
  EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data_);
  EXPECT_GT(recorder_.progressMessages, 0);
  EXPECT_FALSE(recorder_.progressKnown);
  EXPECT_FALSE(downloader_->GetProgress(nullptr, nullptr));
}

// The done event resets itself: Wait(false) sees the end once. A blocking
// Wait still returns for an ended transfer, and at once when none was started.
TEST_F(DownAntDownloadTest, WaitWithoutBlockingSeesTheEndOnce) {
  NginxServer nginx(root_.path());
  EXPECT_FALSE(downloader_->Wait(true));
  ASSERT_TRUE(downloader_->Prepare(nginx.url() + "/a.bin", "out\\a.bin", &recorder_.window, 1));
  EXPECT_FALSE(downloader_->Wait(false));
  EXPECT_FALSE(downloader_->Wait(true));

  downloader_->Start();
  MessageLoop::RunUntil([&] { return downloader_->Wait(false); }, std::chrono::milliseconds(5));
  EXPECT_EQ(recorder_.states.back(), DL_DONE);  // reported before the event
  EXPECT_FALSE(downloader_->Wait(false));
  EXPECT_TRUE(downloader_->Wait(true));
}

// Stop from the notify window once the stalled server's first kilobyte is in:
// the job announces DL_IDLE at once, while GetState reports the manager, which
// runs until the request ends at its next check; then the local path and the
// segment file are cleared. A Prepare meanwhile is refused.
TEST_F(DownAntDownloadTest, StopDuringTheTransferRemovesTheSegmentFileAndTheLocalFile) {
  FaultServer fault(root_.path());
  WriteFile(work_.path() / "out" / "a.bin", "older");
  bool refused = false;
  bool stopped = false;
  recorder_.onProgress = [&] {
    if (stopped || recorder_.lastReceived < 1024) return;
    refused = !downloader_->Prepare(fault.url() + "/a.bin", "out\\b.bin", &recorder_.window, 9);
    downloader_->Stop();
    stopped = true;
  };
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__stall/a.bin", "out\\a.bin", &recorder_.window, 4));
  downloader_->Start();
  EXPECT_TRUE(downloader_->Wait(true));

  EXPECT_TRUE(refused);
  EXPECT_EQ(recorder_.states, (std::vector<DownloadState>{DL_READY, DL_RUNNING, DL_RUNNING, DL_MOVE_FAILED}));
  EXPECT_EQ(recorder_.cookies, std::vector<WParam>(recorder_.cookies.size(), 4));
  EXPECT_EQ(recorder_.lastTotal, static_cast<int64_t>(data_.size()));
  EXPECT_FALSE(Exists("out/a.bin"));
  EXPECT_FALSE(Exists(kSegmentFile));
}

TEST_F(DownAntDownloadTest, PrepareWithAnEmptyUrlStartsNoWorker) {
  const size_t threads = ThreadCount();
  EXPECT_FALSE(downloader_->Prepare("", "out\\a.bin", &recorder_.window, 2));
  EXPECT_FALSE(downloader_->Prepare("not a url", "out\\a.bin", &recorder_.window, 2));
  EXPECT_EQ(downloader_->GetState(), DL_PREPARE_FAILED);
  EXPECT_EQ(recorder_.states, std::vector<DownloadState>{DL_PREPARE_FAILED});
  EXPECT_EQ(ThreadCount(), threads);
  downloader_->Start();  // not prepared: nothing happens
  EXPECT_EQ(downloader_->GetState(), DL_PREPARE_FAILED);

  ASSERT_TRUE(downloader_->Prepare("http://127.0.0.1:1/a.bin", "out\\a.bin", &recorder_.window, 2));
  EXPECT_EQ(ThreadCount(), threads + 1);
  downloader_->Reset();
  EXPECT_EQ(ThreadCountAfterJoin(threads), threads);
}

// Destroying the downloader while the server stalls stops the request and
// waits for the worker, delivering the reports it sends meanwhile; what the
// request received goes with it.
TEST_F(DownAntDownloadTest, DestructionDuringAStalledTransferEndsTheWorker) {
  FaultServer fault(root_.path());
  const size_t threads = ThreadCount();
  ASSERT_TRUE(downloader_->Prepare(fault.url() + "/__stall/a.bin", "out\\a.bin", &recorder_.window, 4));
  downloader_->Start();
  MessageLoop::RunUntil([&] { return recorder_.lastReceived >= 1024; }, std::chrono::milliseconds(5));
  downloader_.reset();
  EXPECT_EQ(ThreadCountAfterJoin(threads), threads);
  EXPECT_FALSE(Exists(kSegmentFile));
}

// A cut transfer keeps the segment file and its record; the next one asks for
// the rest and continues the progress from the bytes held, or drops them when
// the server refuses the range and begins from zero at the attempt after.
TEST_F(DownAntDownloadTest, ACutTransferIsResumedWhereTheServerAllowsIt) {
  constexpr int64_t kCut = 20000;
  const int64_t size = static_cast<int64_t>(data_.size());
  const struct {
    const char* mode;
    std::vector<DownloadState> ends;  // of the attempts after the cut
    std::vector<std::string> sent;    // "<Range> <bytes>" of those attempts
  } cases[] = {
      {"range", {DL_DONE}, {"bytes=20000- " + std::to_string(size - kCut)}},
      {"ignore", {DL_DONE}, {"bytes=20000- " + std::to_string(size)}},
      {"refuse", {DL_MOVE_FAILED, DL_DONE}, {"bytes=20000- 0", "- " + std::to_string(size)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    FaultServer fault(root_.path());
    const std::string prefix = fault.url() + "/__resumable/" + c.mode + "/";
    const auto attempt = [&](const std::string& url, Recorder& recorder) {
      CAutoDownload_DownAnt downloader;
      recorder.downloader = &downloader;
      EXPECT_TRUE(downloader.Prepare(url, "out\\a.bin", &recorder.window, 1));
      downloader.Start();
      EXPECT_TRUE(downloader.Wait(true));
      return downloader.GetState();
    };
    Recorder cut;
    EXPECT_EQ(attempt(prefix + std::to_string(kCut) + "/a.bin", cut), DL_MOVE_FAILED);
    EXPECT_EQ(fs::file_size(work_.path() / kSegmentFile), static_cast<uintmax_t>(kCut));
    EXPECT_TRUE(Exists(std::string(kSegmentFile) + ".part"));

    for (DownloadState end : c.ends) {
      Recorder recorder;
      int64_t firstReceived = -1;
      recorder.onProgress = [&] {
        if (firstReceived < 0 && recorder.progressKnown) firstReceived = recorder.lastReceived;
      };
      EXPECT_EQ(attempt(prefix + "0/a.bin", recorder), end);
      if (end == DL_DONE && c.mode == std::string("range")) {
        EXPECT_GE(firstReceived, kCut);
        EXPECT_EQ(recorder.lastTotal, size);
      }
    }
    EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data_);
    EXPECT_FALSE(Exists(kSegmentFile));
    std::string sent = fault.sent();
    std::string expected = "a.bin - " + std::to_string(kCut) + "\n";
    for (const std::string& line : c.sent) expected += "a.bin " + line + "\n";
    EXPECT_EQ(sent, expected);
    fs::remove(work_.path() / "out" / "a.bin");
  }
}
