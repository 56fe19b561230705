#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/transfer/DownAntFixtures.h"
#include "transfer/CDownAnt.h"

using namespace DOWNANT;
using enum DOWN_STATE;
using namespace testsupport;
using downant_test::Bytes;
using downant_test::TraceRecorder;
namespace fs = std::filesystem;

namespace {

// Records every report of a request; `answer` decides the reply.
class Recorder : public CDownAnt::Listener {
 public:
  AntAnswer OnAntNotify(CDownAnt& request) override {
    reports.push_back({request.State(), request.Text(), request.Received()});
    return answer ? answer(request) : kAntContinue;
  }

  // The states without repeats of the one before.
  std::vector<DOWN_STATE> States() const {
    std::vector<DOWN_STATE> states;
    for (const auto& report : reports) {
      if (states.empty() || states.back() != report.state) states.push_back(report.state);
    }
    return states;
  }
  std::string TextAt(DOWN_STATE state) const {
    for (const auto& report : reports) {
      if (report.state == state) return report.text;
    }
    return "<none>";
  }

  struct Report {
    DOWN_STATE state;
    std::string text;
    int64_t received;
  };
  std::vector<Report> reports;
  std::function<AntAnswer(CDownAnt&)> answer;
};

// A request runs on the test thread here: Run is the worker's call.
class DownAntTest : public testing::Test {
 protected:
  void SetUp() override { WriteFile(root_.path() / "a.bin", data_); }

  // Inits and runs one request into "seg.0" of the work folder.
  void RunRequest(const std::string& url, Recorder& recorder, const std::string& segment = "seg.0") {
    CDownAnt request;
    ASSERT_TRUE(request.Init(url, segment, &recorder));
    request.Run(0);
    received_ = request.Received();
  }

  const std::string data_ = Bytes(10000);
  TempDir root_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  int64_t received_ = 0;
};

const std::vector<DOWN_STATE> kUpToConnected = {DS_URL_PARSED, DS_REQUEST_OPENED, DS_RESOLVING,
                                                DS_RESOLVED,   DS_CONNECTING,     DS_CONNECTED};

std::vector<DOWN_STATE> Then(std::vector<DOWN_STATE> states, std::initializer_list<DOWN_STATE> more) {
  states.insert(states.end(), more);
  return states;
}

}  // namespace

TEST_F(DownAntTest, ASuccessfulRequestWalksTheStatesAndFillsTheSegmentFile) {
  NginxServer nginx(root_.path());
  TraceRecorder trace;
  Recorder recorder;
  RunRequest(nginx.url() + "/a.bin", recorder);

  EXPECT_EQ(recorder.States(), Then(kUpToConnected, {DS_STATUS_OK, DS_RECEIVING, DS_ALL_RECEIVED}));
  EXPECT_EQ(recorder.TextAt(DS_RESOLVING), "127.0.0.1");
  EXPECT_EQ(recorder.TextAt(DS_CONNECTED), "127.0.0.1");
  EXPECT_EQ(recorder.TextAt(DS_STATUS_OK), "FileSize: 10000");
  EXPECT_EQ(ReadFile(work_.path() / "seg.0"), data_);
  EXPECT_EQ(received_, 10000);
  // The body arrives in pieces of at most 4096 bytes, each reported.
  std::vector<int64_t> counts;
  for (const auto& report : recorder.reports) {
    if (report.state == DS_RECEIVING) counts.push_back(report.received);
  }
  EXPECT_EQ(counts.front(), 0);
  EXPECT_EQ(counts.back(), 10000);
  for (size_t i = 1; i < counts.size(); ++i) EXPECT_LE(counts[i] - counts[i - 1], 4096);
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"0,0:After ::InternetOpen", "0,0:After ::InternetConnect",
                                                     "0,0:After ::HttpOpenRequest",
                                                     "0,0:After ::HttpQueryInfo(HTTP_QUERY_STATUS_CODE)"}));
}

TEST_F(DownAntTest, ARedirectIsReportedAndFollowed) {
  FaultServer fault(root_.path());
  Recorder recorder;
  RunRequest(fault.url() + "/__redirect/a.bin", recorder);
  EXPECT_EQ(recorder.States(),
            Then(kUpToConnected, {DS_REDIRECTED, DS_CONNECTED, DS_STATUS_OK, DS_RECEIVING, DS_ALL_RECEIVED}));
  EXPECT_EQ(recorder.TextAt(DS_REDIRECTED), "/a.bin");
  EXPECT_EQ(ReadFile(work_.path() / "seg.0"), data_);
}

TEST_F(DownAntTest, ABodyWithoutLengthIsReadToItsEnd) {
  FaultServer fault(root_.path());
  Recorder recorder;
  RunRequest(fault.url() + "/__nolength/a.bin", recorder);
  EXPECT_EQ(recorder.States().back(), DS_ALL_RECEIVED);
  EXPECT_EQ(recorder.TextAt(DS_STATUS_OK), "127.0.0.1");  // no "FileSize" text
  EXPECT_EQ(ReadFile(work_.path() / "seg.0"), data_);
}

// Every way a request fails, with the state it ends in and the text it
// traces. The segment file stays.
TEST_F(DownAntTest, FailuresEndInTheirStateAndTraceTheirText) {
  FaultServer fault(root_.path());
  const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLocalPort()) + "/a.bin";
  const struct {
    std::string url;
    DOWN_STATE end;
    std::string text;
  } cases[] = {
      {fault.url() + "/__status/404/a.bin", DS_BAD_STATUS, "127.0.0.1"},
      {fault.url() + "/__status/500/a.bin", DS_BAD_STATUS, "127.0.0.1"},
      {fault.url() + "/__status/401/a.bin", DS_AUTH_FAILED, "Authentication errors, Status Code:401\n"},
      {fault.url() + "/__status/407/a.bin", DS_PROXY_AUTH_FAILED, "Authentication errors, Status Code:407\n"},
      {fault.url() + "/__short/a.bin", DS_READ_FAILED, "(::InternetReadFile), Error:18\n"},
      {refused, DS_SEND_FAILED, "(::HttpSendRequest), Error:7\n"},
      {"file://127.0.0.1:1/a.bin", DS_CONNECT_FAILED, "(::InternetConnect), Error:1\n"},
      {"ftp://127.0.0.1:1/a.bin", DS_OPEN_REQUEST_FAILED, "(::HttpOpenRequest), Error:1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    TraceRecorder trace;
    Recorder recorder;
    RunRequest(c.url, recorder);
    EXPECT_EQ(recorder.States().back(), c.end);
    EXPECT_EQ(recorder.reports.back().text, c.text);
    EXPECT_EQ(trace.Lines().back(), "0,0:" + c.text);
    EXPECT_TRUE(fs::exists(work_.path() / "seg.0"));
  }
}

TEST_F(DownAntTest, SegmentFileFailuresCarryTheirCodePage936Texts) {
  NginxServer nginx(root_.path());
  Recorder missing;
  RunRequest(nginx.url() + "/a.bin", missing, "no\\such\\seg.0");
  EXPECT_EQ(missing.States(), (std::vector<DOWN_STATE>{DS_URL_PARSED, DS_FILE_CREATE_FAILED}));
  EXPECT_EQ(missing.reports.back().text,
            "\xb1\xbe\xb5\xd8\xce\xc4\xbc\xfe\xb4\xb4\xbd\xa8\xca\xa7\xb0\xdc: no\\such\\seg.0, Error:" +
                std::to_string(ENOENT));

  // /dev/full takes no bytes: the write (or the close that flushes it) fails.
  Recorder full;
  RunRequest(nginx.url() + "/a.bin", full, "/dev/full");
  EXPECT_EQ(full.States().back(), DS_WRITE_FAILED);
  EXPECT_EQ(full.reports.back().text,
            "\xd0\xb4\xb1\xbe\xb5\xd8\xce\xc4\xbc\xfe\xca\xc7\xb7\xa2\xc9\xfa\xd2\xec\xb3\xa3, Error:" +
                std::to_string(ENOSPC));
}

TEST_F(DownAntTest, InitRefusesEmptyAndUnparsableInputs) {
  const struct {
    std::string url;
    std::string segment;
    std::string text;
  } cases[] = {
      {"", "seg.0", kTextUrlOrPathEmpty},
      {"http://h/a", "", kTextUrlOrPathEmpty},
      {"no url", "seg.0", "\xb5\xd8\xd6\xb7\xbd\xe2\xce\xf6\xb4\xed\xce\xf3: no url"},
  };
  for (const auto& c : cases) {
    Recorder recorder;
    CDownAnt request;
    EXPECT_FALSE(request.Init(c.url, c.segment, &recorder));
    EXPECT_EQ(recorder.States(), std::vector<DOWN_STATE>{DS_URL_INVALID});
    EXPECT_EQ(request.Text(), c.text);
    EXPECT_EQ(request.Phase(), kDownNotStarted);
  }
  EXPECT_EQ(std::string(kTextUrlOrPathEmpty),
            "\xcf\xc2\xd4\xd8\xb5\xd8\xd6\xb7\xba\xcd\xb1\xbe\xb5\xd8\xce\xc4\xbc"
            "\xfe\xb5\xd8\xd6\xb7\xb2\xbb\xc4\xdc\xce\xaa\xbf\xd5");
}

// The listener's answers and the stop flag end a request at its next check.
TEST_F(DownAntTest, AnswersAndTheStopFlagEndTheRequest) {
  NginxServer nginx(root_.path());

  Recorder stopAtData;
  stopAtData.answer = [](CDownAnt& request) { return request.Received() > 0 ? kAntStop : kAntContinue; };
  RunRequest(nginx.url() + "/a.bin", stopAtData);
  EXPECT_EQ(stopAtData.States().back(), DS_STOPPED);
  EXPECT_LE(received_, 4096);

  Recorder finishAtData;
  finishAtData.answer = [](CDownAnt& request) { return request.Received() > 0 ? kAntFinish : kAntContinue; };
  RunRequest(nginx.url() + "/a.bin", finishAtData);
  EXPECT_EQ(finishAtData.States().back(), DS_FINISHED);

  // Stopped before it runs: the first check, right after the session opens,
  // ends it before its first trace line; the stopped request traces its
  // (empty) text.
  TraceRecorder trace;
  Recorder early;
  CDownAnt request;
  ASSERT_TRUE(request.Init(nginx.url() + "/a.bin", "seg.0", &early));
  request.Stop();
  request.Run(0);
  EXPECT_EQ(early.States(), (std::vector<DOWN_STATE>{DS_URL_PARSED, DS_STOPPED}));
  EXPECT_EQ(trace.Lines(), std::vector<std::string>{"0,0:"});
}
