// The launcher program against update servers that speak HTTPS: with a
// certificate the test build trusts, installation, both patches and the
// client start all come over HTTPS; a certificate from an unknown authority
// or for another host name fails that base, and the plain primary serves the
// whole chain instead.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/FaultChainFixture.h"
#include "tests/support/LocalServers.h"
#include "tests/support/TestCertificates.h"

namespace {

namespace fs = std::filesystem;
using e2e::FaultChainTest;
using e2e::InOrder;
using e2e::Joined;
using testsupport::Issuer;

const std::vector<std::string> kFreshChain = {"LE_UpdateSelfNoNeed", "LE_InstallWithMode", "LE_InstallSuccess",
                                              "LE_GameCheckUpdate",  "LE_StartGamePatch",  "LE_StartGamePatch",
                                              "LE_GamePatchNoNeed"};

class HttpsServerTest : public FaultChainTest {
 protected:
  // The pristine tree's base on nginx speaking HTTPS with a certificate for
  // `names`.
  std::string HttpsBase(const std::string& names, Issuer issuer) {
    const fs::path folder = root() / ("tls-" + std::to_string(servers_.size()));
    fs::create_directories(folder);
    const testsupport::ServerCertificate certificate = testsupport::MakeServerCertificate(folder, names, issuer);
    servers_.push_back(std::make_unique<testsupport::NginxServer>(
        root() / "servers", testsupport::NginxOptions{certificate.certificate, certificate.key, {}, {}}));
    return servers_.back()->url() + "/pristine/KVMETRA";
  }

  std::vector<std::unique_ptr<testsupport::NginxServer>> servers_;
};

TEST_F(HttpsServerTest, ATrustedServerServesTheChainAndARefusedOneGivesWayToThePrimary) {
  PublishPristine();
  const struct {
    const char* what;
    const char* names;
    Issuer issuer;
    bool primary;  // the plain primary serves the tree
  } cases[] = {
      {"trusted certificate: everything over HTTPS", "IP:127.0.0.1", Issuer::kTestAuthority, false},
      {"certificate for another host name: the primary", "DNS:elsewhere.test", Issuer::kTestAuthority, true},
      {"certificate from an unknown authority: the primary", "IP:127.0.0.1", Issuer::kStranger, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetGameTree("pristine");
    const std::string base = HttpsBase(c.names, c.issuer);
    WriteBases({base, base, base, base});
    ServePrimary(c.primary ? "pristine" : "");

    const size_t mark = Events().size();
    EXPECT_EQ(Run({}, ""), 0) << output << LaunchLog();
    EXPECT_TRUE(InOrder(EventNamesSince(mark), kFreshChain)) << Joined(EventNamesSince(mark));
    ExpectClientStarted();
    ExpectPublished("pristine", kLatest);
    const bool refused = LaunchLog().find("start file download fail: 1 temp_launcher\\version") != std::string::npos;
    EXPECT_EQ(refused, c.primary) << LaunchLog();
    WaitForProcessesInGameTree();
    RemoveClientRecords();
  }
}

}  // namespace
