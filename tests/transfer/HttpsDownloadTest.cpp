// Both downloaders against nginx speaking HTTPS: a certificate from the
// authority the test build trusts works; one from an unknown authority, or
// one for another host name, fails the download and leaves nothing behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/LocalServers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/transfer/DownAntFixtures.h"
#include "transfer/CAutoDownload_Curl.h"
#include "transfer/CAutoDownload_DownAnt.h"

using namespace testsupport;
using downant_test::Bytes;
using downant_test::TraceRecorder;
namespace fs = std::filesystem;
using enum DownloadState;

namespace {

struct Downloader {
  const char* name;
  std::function<std::unique_ptr<CAutoDownload>()> make;
  DownloadState failed;  // how a refused server ends
};

const Downloader kDownloaders[] = {
    {"curl", [] { return std::unique_ptr<CAutoDownload>(CAutoDownload_Curl::Create()); }, DL_FAILED},
    {"segmented", [] { return std::unique_ptr<CAutoDownload>(std::make_unique<CAutoDownload_DownAnt>()); },
     DL_MOVE_FAILED},
};

// Sets an environment variable for the scope, then removes it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedVariable() { unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

class HttpsDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root_.path() / "pack" / "a.bin", data_);
    fs::create_directory(work_.path() / "temp_d");
    fs::create_directory(work_.path() / "out");
  }

  // nginx serving the root over HTTPS with a certificate for `names`, or
  // redirecting every request to the same path below `redirectTo`.
  std::unique_ptr<NginxServer> Serve(const std::string& names, Issuer issuer, const std::string& redirectTo = "") {
    const fs::path folder = certificates_.path() / std::to_string(++servers_);
    fs::create_directory(folder);
    const ServerCertificate certificate = MakeServerCertificate(folder, names, issuer);
    return std::make_unique<NginxServer>(root_.path(),
                                         NginxOptions{certificate.certificate, certificate.key, {}, redirectTo});
  }

  // Downloads `url` to out/a.bin; the state it ends in.
  static DownloadState Download(const Downloader& downloader, const std::string& url) {
    std::unique_ptr<CAutoDownload> download = downloader.make();
    if (!download->Prepare(url, "out\\a.bin", nullptr, 1)) return download->GetState();
    download->Start();
    download->Wait(true);
    return download->GetState();
  }

  const std::string data_ = Bytes(300 * 1024);
  TempDir root_;
  TempDir certificates_;
  TempDir work_;
  CurrentDirScope cwd_{work_.path()};
  int servers_ = 0;
};

}  // namespace

TEST_F(HttpsDownloadTest, OnlyATrustedCertificateForTheHostDelivers) {
  const struct {
    const char* what;
    const char* names;
    Issuer issuer;
    bool trusted;
  } cases[] = {
      {"trusted, for the address", "IP:127.0.0.1", Issuer::kTestAuthority, true},
      {"trusted, for another host name", "DNS:elsewhere.test", Issuer::kTestAuthority, false},
      {"for the address, from an unknown authority", "IP:127.0.0.1", Issuer::kStranger, false},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<NginxServer> nginx = Serve(c.names, c.issuer);
    for (const Downloader& downloader : kDownloaders) {
      SCOPED_TRACE(std::string(c.what) + ", " + downloader.name);
      TraceRecorder trace;
      fs::remove(work_.path() / "out" / "a.bin");
      EXPECT_EQ(Download(downloader, nginx->url() + "/pack/a.bin"), c.trusted ? DL_DONE : downloader.failed);
      if (c.trusted) {
        EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data_);
      } else {
        EXPECT_FALSE(fs::exists(work_.path() / "out" / "a.bin"));
        EXPECT_TRUE(fs::is_empty(work_.path() / "temp_d"));
      }
      // The segmented downloader names the refusal: the peer's certificate
      // did not verify.
      if (downloader.failed == DL_MOVE_FAILED && !c.trusted) {
        EXPECT_TRUE(trace.Has("0,0:(::HttpSendRequest), Error:60\n"));
      }
    }
  }
}

// Proxies come from the environment for HTTPS too: through a proxy that does
// not answer nothing arrives, unless no_proxy names the server.
TEST_F(HttpsDownloadTest, TheProxyVariablesAreHonoured) {
  const std::unique_ptr<NginxServer> nginx = Serve("IP:127.0.0.1", Issuer::kTestAuthority);
  const ScopedVariable proxy("https_proxy", "http://127.0.0.1:" + std::to_string(FreeLocalPort()));
  for (const Downloader& downloader : kDownloaders) {
    SCOPED_TRACE(downloader.name);
    EXPECT_EQ(Download(downloader, nginx->url() + "/pack/a.bin"), downloader.failed);
    const ScopedVariable direct("no_proxy", "127.0.0.1");
    EXPECT_EQ(Download(downloader, nginx->url() + "/pack/a.bin"), DL_DONE);
  }
}

// A transfer that begins over HTTPS stays there: a redirect to plain HTTP
// would skip every check and is not followed; one to another trusted HTTPS
// server is.
TEST_F(HttpsDownloadTest, RedirectsFromHttpsGoOnlyToHttps) {
  const NginxServer plain(root_.path());
  const std::unique_ptr<NginxServer> trusted = Serve("IP:127.0.0.1", Issuer::kTestAuthority);
  const std::unique_ptr<NginxServer> toPlain = Serve("IP:127.0.0.1", Issuer::kTestAuthority, plain.url());
  const std::unique_ptr<NginxServer> toTrusted = Serve("IP:127.0.0.1", Issuer::kTestAuthority, trusted->url());
  for (const Downloader& downloader : kDownloaders) {
    SCOPED_TRACE(downloader.name);
    fs::remove(work_.path() / "out" / "a.bin");
    EXPECT_EQ(Download(downloader, toPlain->url() + "/pack/a.bin"), downloader.failed);
    EXPECT_FALSE(fs::exists(work_.path() / "out" / "a.bin"));
    EXPECT_EQ(Download(downloader, toTrusted->url() + "/pack/a.bin"), DL_DONE);
    EXPECT_EQ(ReadFile(work_.path() / "out" / "a.bin"), data_);
  }
}
