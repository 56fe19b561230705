#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/RegistryStore.h"
#include "telemetry/DeviceIdentity.h"
#include "telemetry/EventReport.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestUser.h"
#include "util/Encoding.h"

using testsupport::FaultServer;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::TestUser;
using testsupport::WriteFile;

namespace {

constexpr const char* kStoredId = "ZARIRER\x02hash\x02guid";
constexpr const char* kBodyStart = "appkey=4729163058214&type=adevent&log=";
constexpr const char* kUploadPath = "/tova-bi-log-service/UploadHttpServlet";
constexpr auto kGenerousWait = std::chrono::seconds(60);

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// One POST as the fault server recorded it.
struct Post {
  std::string path;
  std::string headers;  // the JSON object, as recorded
  std::string body;
};

std::string JsonField(const std::string& line, const std::string& name, char end) {
  std::string start = "\"" + name + "\": " + (end == '"' ? "\"" : "");
  size_t at = line.find(start);
  if (at == std::string::npos) return {};
  at += start.size();
  return line.substr(at, line.find(end, at) - at);
}

std::vector<Post> Posts(const FaultServer& server) {
  std::vector<Post> posts;
  for (const std::string& line : Split(server.posts(), '\n')) {
    if (line.empty()) continue;
    std::string hex = JsonField(line, "body_hex", '"');
    std::string body;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) body += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    posts.push_back({JsonField(line, "path", '"'), JsonField(line, "headers", '}'), body});
  }
  return posts;
}

// Launch-log lines that carry an upload body.
int BodyLinesInLog() {
  int lines = 0;
  for (const std::string& line : Split(ReadFile("Launch.log"), '\n'))
    if (line.find(kBodyStart) != std::string::npos) ++lines;
  return lines;
}

EventUploadSettings SettingsFor(const std::string& baseUrl) {
  EventUploadSettings settings;
  settings.baseUrl = baseUrl;
  return settings;
}

// A port on 127.0.0.1 that takes connections into its queue and never
// answers: a log service that has gone silent.
class SilentListener {
 public:
  SilentListener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(listen(fd_, 16), 0);
    EXPECT_EQ(getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int fd() const { return fd_; }
  // Blocks until a connection waits in the queue, at most `timeoutMs`.
  bool WaitForConnection(int timeoutMs = 60000) const {
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
  }

 private:
  int fd_;
  int port_ = 0;
};

// A log service that answers every request with the status line, a length of
// 100000 and the body "10", and then sends nothing more: only a reader that
// stops at the first "0" is done with the answer.
class ZeroThenStall {
 public:
  ZeroThenStall() : thread_([this] { Serve(); }) {}
  ~ZeroThenStall() {
    stop_ = true;
    thread_.join();
    for (int fd : clients_) close(fd);
  }
  ZeroThenStall(const ZeroThenStall&) = delete;
  ZeroThenStall& operator=(const ZeroThenStall&) = delete;

  std::string url() const { return listener_.url(); }

 private:
  void Serve() {
    while (!stop_) {
      if (!listener_.WaitForConnection(100)) continue;
      const int fd = accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      char request[65536];
      static_cast<void>(recv(fd, request, sizeof request, 0));  // the request itself does not matter
      const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n10";
      static_cast<void>(send(fd, reply.data(), reply.size(), MSG_NOSIGNAL));
      clients_.push_back(fd);
    }
  }

  SilentListener listener_;
  std::atomic<bool> stop_ = false;
  std::vector<int> clients_;  // serving thread only, until it is joined
  std::thread thread_;
};

// Forgets, at the end of a test, that the log service went silent.
struct SilenceReset {
  ~SilenceReset() { ResetEventServiceSilence(); }
};

// Restores the process-wide upload settings at the end of a test.
class SettingsScope {
 public:
  explicit SettingsScope(const EventUploadSettings& settings) : saved_(GetEventUploadSettings()) {
    SetEventUploadSettings(settings);
  }
  ~SettingsScope() { SetEventUploadSettings(saved_); }

 private:
  EventUploadSettings saved_;
};

}  // namespace

TEST(EventReport, RecordHasEighteenFieldsWithReferralAndMarker) {
  struct Case {
    const char* what;
    std::optional<std::string> referral;
    std::optional<std::string> marker;
    std::u16string text;
    std::string field7, field16, field18;
  } cases[] = {
      {"no referral, no marker, empty text", std::nullopt, std::nullopt, u"", "pc", "", ""},
      {"referral, marker with line breaks", "xyz", "tova-42\r\nsecond line\n", u"a&b=c", "gclid\x02xyz",
       "tova-42\r\nsecond line\n", "a&b=c"},
      {"marker ends at a zero byte; invalid UTF-8 is replaced", std::nullopt, std::string("ab\xff\0cd", 6), u"1.50",
       "pc", "ab\xEF\xBF\xBD", "1.50"},
  };
  for (const Case& c : cases) {
    TestUser user;
    RegistryStore store = user.store();
    ASSERT_TRUE(store.WriteBinary(kDeviceRegistryKey, kDeviceIdValueName, kStoredId));
    if (c.referral) {
      ASSERT_TRUE(store.WriteText(kDeviceRegistryKey, kReferralValueName, *c.referral));
    }
    if (c.marker) WriteFile(user.dir() / "tovabiID", *c.marker);

    std::string record = WideToUtf8(BuildEventRecord(u"LE_Test", c.text));
    std::vector<std::string> fields = Split(record, '\x01');
    ASSERT_EQ(fields.size(), 18u) << c.what;
    EXPECT_TRUE(std::regex_match(fields[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << fields[0];
    const std::vector<std::string> expected = {fields[0], kStoredId, "1000000002", "0",       "0",       "pc",
                                               c.field7,  "0x0",     "network",    "0",       "1000",    "v1.8",
                                               "",        "",        "",           c.field16, "LE_Test", c.field18};
    EXPECT_EQ(fields, expected) << c.what;
  }
  // An empty event text still ends the record with a separator after the name.
  TestUser user;
  std::string record = WideToUtf8(BuildEventRecord(u"LE_LauncherStart", u""));
  EXPECT_EQ(record.substr(record.size() - 18), "\x01LE_LauncherStart\x01");
}

TEST(EventReport, RecordMakesAndStoresTheDeviceIdWhenNoneIsStored) {
  TestUser user;
  std::vector<std::string> fields = Split(WideToUtf8(BuildEventRecord(u"LE_Test", u"")), '\x01');
  ASSERT_EQ(fields.size(), 18u);
  EXPECT_EQ(fields[1].substr(0, 8), "ZARIRER\x02");
  std::string stored;
  ASSERT_TRUE(user.store().ReadBinary(kDeviceRegistryKey, kDeviceIdValueName, stored));
  EXPECT_EQ(stored, fields[1]);
}

TEST(EventReport, UploadIsOnePostWithTheBodyAsFormatted) {
  TestUser user;
  TempDir root;
  FaultServer server(root.path());
  const std::u16string log = u"2024-01-02 03:04:05\x01id & more=x\x02y\x01日本 %41+";
  ASSERT_TRUE(PostEventLog("adevent", log, SettingsFor(server.url())));

  std::vector<Post> posts = Posts(server);
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].path, kUploadPath);
  EXPECT_EQ(posts[0].body, kBodyStart + WideToUtf8(log));
  EXPECT_NE(posts[0].headers.find("\"Content-Type\": \"application/x-www-form-urlencoded\""), std::string::npos);
  EXPECT_EQ(posts[0].headers.find("Expect"), std::string::npos);
  EXPECT_EQ(BodyLinesInLog(), 1);
}

// An HTTPS log service (nginx passing the requests on to the fault server)
// gets the upload only when its certificate is trusted and names its host.
TEST(EventReport, AnHttpsServiceGetsTheUploadOnlyWithATrustedCertificateForItsHost) {
  TestUser user;
  TempDir root;
  TempDir certificates;
  FaultServer server(root.path());
  const struct {
    const char* names;
    testsupport::Issuer issuer;
    UploadOutcome outcome;
  } cases[] = {
      {"IP:127.0.0.1", testsupport::Issuer::kTestAuthority, UploadOutcome::kAccepted},
      {"DNS:elsewhere.test", testsupport::Issuer::kTestAuthority, UploadOutcome::kRefused},
      {"IP:127.0.0.1", testsupport::Issuer::kStranger, UploadOutcome::kRefused},
  };
  size_t expectedPosts = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const std::filesystem::path folder = certificates.path() / std::to_string(i);
    std::filesystem::create_directory(folder);
    const auto certificate = testsupport::MakeServerCertificate(folder, cases[i].names, cases[i].issuer);
    testsupport::NginxServer nginx(root.path(), {certificate.certificate, certificate.key, server.url(), {}});
    EXPECT_EQ(PostEventLogOutcome("adevent", u"over tls", SettingsFor(nginx.url())), cases[i].outcome);
    if (cases[i].outcome == UploadOutcome::kAccepted) ++expectedPosts;
    const std::vector<Post> posts = Posts(server);
    ASSERT_EQ(posts.size(), expectedPosts);
    if (expectedPosts > 0) {
      EXPECT_EQ(posts.back().body, std::string(kBodyStart) + "over tls");
    }
  }
}

TEST(EventReport, ReplyWithoutAZeroIsTriedFiveTimes) {
  struct Case {
    std::string reply;
    bool accepted;
    size_t attempts;
  } cases[] = {
      {"0", true, 1},
      {"10", true, 1},
      {"1", false, 5},
      {"", false, 5},
  };
  for (const Case& c : cases) {
    TestUser user;
    RegistryStore store = user.store();
    ASSERT_TRUE(store.WriteBinary(kDeviceRegistryKey, kDeviceIdValueName, kStoredId));
    TempDir root;
    FaultServer server(root.path(), c.reply);
    EXPECT_EQ(UploadEvent(u"LE_GamePatchFail", u"down patchfile", SettingsFor(server.url())), c.accepted) << c.reply;
    std::vector<Post> posts = Posts(server);
    ASSERT_EQ(posts.size(), c.attempts) << c.reply;
    // The record is built once: every attempt sends the same body.
    for (const Post& post : posts) EXPECT_EQ(post.body, posts[0].body);
    EXPECT_EQ(posts[0].body.substr(0, std::string(kBodyStart).size()), kBodyStart);
    EXPECT_EQ(static_cast<size_t>(BodyLinesInLog()), c.attempts);
  }
}

// A service that refuses the connection fails at once and gets the five
// attempts. A silent one costs one bounded attempt, and then the process
// sends no event any more, waited for or not, and says so in the log.
TEST(EventReport, ARefusingServiceGetsFiveAttemptsASilentOneATimeOutPerRun) {
  TestUser user;
  SilenceReset reset;
  EventUploadSettings settings = SettingsFor("http://127.0.0.1:" + std::to_string(testsupport::FreeLocalPort()));
  settings.connectTimeout = std::chrono::milliseconds(200);
  settings.totalTimeout = std::chrono::milliseconds(300);
  EXPECT_FALSE(UploadEvent(u"LE_UpdateSelfStart", u"", settings));
  EXPECT_EQ(BodyLinesInLog(), 5);

  SilentListener silent;
  settings.baseUrl = silent.url();
  EXPECT_FALSE(UploadEvent(u"LE_UpdateSelfStart", u"", settings));
  EXPECT_EQ(BodyLinesInLog(), 6);

  TempDir root;
  FaultServer server(root.path());
  {
    SettingsScope scope(SettingsFor(server.url()));
    EXPECT_FALSE(ReportEvent(u"LE_GameCheckUpdate", u""));
    EXPECT_TRUE(ReportEventAsync(u"LE_GamePatchNoNeed", u""));
    ASSERT_TRUE(WaitForPendingReports(kGenerousWait));
    EXPECT_TRUE(Posts(server).empty());
    EXPECT_EQ(BodyLinesInLog(), 6);
    const std::string log = ReadFile("Launch.log");
    for (const char* name : {"LE_GameCheckUpdate", "LE_GamePatchNoNeed"}) {
      EXPECT_NE(log.find(std::string("event ") + name + " dropped: the log service does not answer"), std::string::npos)
          << log;
    }
    // A new process asks the service again.
    ResetEventServiceSilence();
    EXPECT_TRUE(ReportEvent(u"LE_GameCheckUpdate", u""));
    EXPECT_EQ(Posts(server).size(), 1u);
  }

  // The production bounds are a few seconds.
  EventUploadSettings defaults;
  EXPECT_GT(defaults.totalTimeout.count(), 0);
  EXPECT_LE(defaults.totalTimeout, std::chrono::seconds(5));
  EXPECT_LE(defaults.connectTimeout, defaults.totalTimeout);
  EXPECT_EQ(defaults.baseUrl, LAUNCHER_ANALYTICS_URL);
}

// The reply is read only until its first "0": a service that sends "10" of
// an announced 100000 bytes and then nothing is accepted at once, where
// reading the whole reply would run into the time bound on every attempt.
TEST(EventReport, TheReplyIsReadOnlyUntilItsFirstZero) {
  TestUser user;
  SilenceReset reset;
  ZeroThenStall service;
  EventUploadSettings settings = SettingsFor(service.url());
  settings.totalTimeout = std::chrono::seconds(2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(UploadEvent(u"LE_GameCheckUpdate", u"", settings));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(BodyLinesInLog(), 1);
}

TEST(EventReport, ReportsGoToTheConfiguredServiceOnTheCallerOrTheirOwnThread) {
  TestUser user;
  TempDir root;
  FaultServer server(root.path());
  SettingsScope scope(SettingsFor(server.url()));
  EXPECT_TRUE(ReportEvent(u"LE_LauncherStart", u""));
  const std::u16string asyncNames[] = {u"LE_StartRPInstall", u"LE_GamePatchNoNeed", u"LE_GameStartSuccess",
                                       u"LE_GameStartError"};
  for (const auto& name : asyncNames) EXPECT_TRUE(ReportEventAsync(name, u"2"));
  ASSERT_TRUE(WaitForPendingReports(kGenerousWait));

  std::vector<std::string> names;
  for (const Post& post : Posts(server)) {
    std::vector<std::string> fields = Split(post.body, '\x01');
    ASSERT_EQ(fields.size(), 18u);
    names.push_back(fields[16]);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"LE_GamePatchNoNeed", "LE_GameStartError", "LE_GameStartSuccess",
                                             "LE_LauncherStart", "LE_StartRPInstall"}));
  // All threads share one device id, made once.
  std::string stored;
  ASSERT_TRUE(user.store().ReadBinary(kDeviceRegistryKey, kDeviceIdValueName, stored));
  for (const Post& post : Posts(server)) EXPECT_EQ(Split(post.body, '\x01')[1], stored);
}

TEST(EventReport, ProcessEndsCleanlyWhileAnAsyncReportIsStillUploading) {
  TestUser user;
  SilentListener silent;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    EventUploadSettings settings = SettingsFor(silent.url());
    SetEventUploadSettings(settings);
    bool started = ReportEventAsync(u"LE_GameStartSuccess", u"");
    // The report's thread is inside its upload once the connection arrives.
    bool connected = silent.WaitForConnection();
    std::exit(started && connected ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
