#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "patch/SignedFileRecord.h"
#include "tests/support/TempDir.h"
#include "tests/tools/PublisherFixture.h"
#include "tools/publisher/PublisherCommandLine.h"
#include "tools/publisher/ServerTreeSigning.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

int RunTool(const std::vector<std::string>& arguments, std::string& out, std::string& err) {
  std::ostringstream outStream, errStream;
  const int status = RunPublisherCommand(arguments, outStream, errStream);
  out = outStream.str();
  err = errStream.str();
  return status;
}

// A key made by keygen and a small tree signed with it: one launcher
// version and two game versions, so every kind of signed file is present.
class SignedTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::make_unique<testsupport::CurrentDirScope>(dir_.path());
    std::string err;
    ASSERT_EQ(RunTool({"keygen", "--out", "tova.key"}, publicKey_, err), 0) << err;
    publicKey_.pop_back();  // the line end
    game_ = publishtest::WriteVersions(dir_.path() / "game",
                                       {{"1.0", {{"a.txt", "one"}}}, {"1.1", {{"a.txt", "two"}, {"b.txt", ""}}}});
    launcher_ = publishtest::WriteVersions(dir_.path() / "launcher", {publishtest::LauncherVersion()});
  }

  int Publish(const std::string& tree, const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"publish",
                                          "--out",
                                          tree,
                                          "--launcher",
                                          "2.0=" + launcher_[0].folder,
                                          "--game",
                                          "1.0=" + game_[0].folder,
                                          "--game",
                                          "1.1=" + game_[1].folder};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::string out, err;
    const int status = RunTool(arguments, out, err);
    EXPECT_EQ(status, 0) << err;
    return status;
  }

  // The problems the signature check finds in `tree` now.
  std::vector<std::string> Problems(const std::string& tree) const {
    std::vector<std::string> problems;
    VerifyTreeSignatures(tree, publicKey_, static_cast<int64_t>(std::time(nullptr)), problems);
    return problems;
  }

  TempDir dir_;
  std::unique_ptr<testsupport::CurrentDirScope> cwd_;
  std::string publicKey_;
  std::vector<VersionSource> game_, launcher_;
};

TEST_F(SignedTreeTest, KeygenWritesAPrivateFileOnceAndPrintsItsPublicKey) {
  struct stat status {};
  ASSERT_EQ(stat("tova.key", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  std::string privateKey, publicKey, error;
  ASSERT_TRUE(ReadSigningKeyFile("tova.key", privateKey, error)) << error;
  ASSERT_TRUE(SigningPublicKeyOf(privateKey, publicKey));
  EXPECT_EQ(publicKey, publicKey_);

  const std::string before = ReadFile("tova.key");
  std::string out, err;
  EXPECT_EQ(RunTool({"keygen", "--out", "tova.key"}, out, err), 1);
  EXPECT_EQ(ReadFile("tova.key"), before);
  WriteFile("bad.key", "not a key\n");
  EXPECT_FALSE(ReadSigningKeyFile("bad.key", privateKey, error));
  EXPECT_EQ(
      RunTool({"publish", "--out", "t", "--signing-key", "bad.key", "--game", "1.0=" + game_[0].folder}, out, err), 1);
  EXPECT_FALSE(fs::exists("t"));
}

TEST_F(SignedTreeTest, EverySignedFileGetsASignatureThatTheVerifierAccepts) {
  ASSERT_EQ(Publish("tree", {"--signing-key", "tova.key", "--release-serial", "42"}), 0);
  const std::vector<std::string> expected = {
      "AutoPatch/AutoPatch.ini",
      "AutoPatch/AutoPatch_1.0_1.1/patchinfo_1.0_1.1.ini",
      "GameVersion/Game_1.0/GameInfo.ini",
      "GameVersion/Game_1.1/GameInfo.ini",
      "GameVersion/version",
      "InstallVersion/InstallPage_1.0/intallinfo_1.0.ini",
      "InstallVersion/InstallPage_1.1/intallinfo_1.1.ini",
      "InstallVersion/version",
      "LauncherVersion/Launcher_2.0/GameInfo.ini",
      "LauncherVersion/version",
  };
  EXPECT_EQ(SignedFilesOfTree("tree"), expected);
  size_t signatures = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator("tree"))
    signatures += entry.path().extension() == ".sig";
  EXPECT_EQ(signatures, expected.size());
  SignedFileRecord record;
  ASSERT_TRUE(ParseSignedFileRecord(ReadFile("tree/GameVersion/version.sig"), record));
  EXPECT_EQ(record.serial, 42u);
  const int64_t days = (record.expires - static_cast<int64_t>(std::time(nullptr)) + 60) / 86400;
  EXPECT_EQ(days, 30);

  std::string out, err;
  EXPECT_EQ(RunTool({"verify", "tree", "--public-key", publicKey_}, out, err), 0) << err;
  EXPECT_NE(out.find("every signature checks out"), std::string::npos) << out;
  EXPECT_EQ(RunTool({"verify", "tree", "--signing-key", "tova.key"}, out, err), 0) << err;

  // Without a key the tree has no signatures, and the verifier asked for them
  // names each missing one.
  ASSERT_EQ(Publish("plain", {}), 0);
  EXPECT_EQ(RunTool({"verify", "plain", "--public-key", publicKey_}, out, err), 1);
  EXPECT_EQ(Problems("plain").size(), expected.size());
  EXPECT_NE(err.find("problem: AutoPatch/AutoPatch.ini: signature check failed (missing)"), std::string::npos) << err;
}

TEST_F(SignedTreeTest, TheVerifierNamesEachBrokenSignature) {
  ASSERT_EQ(Publish("tree", {"--signing-key", "tova.key", "--release-serial", "42"}), 0);
  ASSERT_EQ(Publish("older", {"--signing-key", "tova.key", "--release-serial", "41"}), 0);
  ASSERT_EQ(Publish("expired", {"--signing-key", "tova.key", "--expiry-days", "0"}), 0);
  EXPECT_EQ(Problems("expired").size(), 10u);
  EXPECT_EQ(Problems("expired")[0], "AutoPatch/AutoPatch.ini: signature check failed (expired)");

  const fs::path list = "tree/GameVersion/Game_1.1/GameInfo.ini";
  struct Case {
    const char* what;
    std::function<void()> damage;
    std::vector<std::string> problems;
  } cases[] = {
      {"a list changed by one byte",
       [&] {
         std::string bytes = ReadFile(list);
         bytes[bytes.size() / 2] ^= 1;
         WriteFile(list, bytes);
       },
       {"GameVersion/Game_1.1/GameInfo.ini: signature check failed (sha256)"}},
      {"the signature of another list",
       [&] {
         fs::copy_file("tree/GameVersion/Game_1.0/GameInfo.ini.sig", list.string() + ".sig",
                       fs::copy_options::overwrite_existing);
       },
       {"GameVersion/Game_1.1/GameInfo.ini: signature check failed (path)"}},
      {"a signature removed",
       [&] { fs::remove(list.string() + ".sig"); },
       {"GameVersion/Game_1.1/GameInfo.ini: signature check failed (missing)"}},
      {"a signature from an older publication",
       [&] {
         fs::copy_file("older/GameVersion/version.sig", "tree/GameVersion/version.sig",
                       fs::copy_options::overwrite_existing);
       },
       {"the signatures carry 2 serials"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("tree");
    ASSERT_EQ(Publish("tree", {"--signing-key", "tova.key", "--release-serial", "42"}), 0);
    ASSERT_TRUE(Problems("tree").empty());
    c.damage();
    EXPECT_EQ(Problems("tree"), c.problems);
  }
}

TEST_F(SignedTreeTest, AVersionFileWhereASignatureGoesIsRefused) {
  WriteFile(fs::path(launcher_[0].folder) / "GameInfo.ini.sig", "mine\n");
  std::string out, err;
  EXPECT_EQ(
      RunTool({"publish", "--out", "tree", "--signing-key", "tova.key", "--launcher", "2.0=" + launcher_[0].folder},
              out, err),
      1);
  EXPECT_NE(err.find("already holds LauncherVersion/Launcher_2.0/GameInfo.ini.sig"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists("tree"));
}

}  // namespace
