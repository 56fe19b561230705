#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "patch/SignedFileRecord.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::WriteFile;

// RFC 8032, section 7.1, test 1: the secret key and its public key.
constexpr const char* kRfcSecret = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr const char* kRfcPublic = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

constexpr int64_t kNow = 1700000000;

TEST(SignedFileRecord, DerivesThePublicKeyOfTheStandardTestVector) {
  std::string publicKey;
  ASSERT_TRUE(SigningPublicKeyOf(kRfcSecret, publicKey));
  EXPECT_EQ(publicKey, kRfcPublic);
  EXPECT_FALSE(SigningPublicKeyOf("9d61", publicKey));
  EXPECT_FALSE(SigningPublicKeyOf(std::string(64, 'g'), publicKey));

  std::string privateKey, fresh;
  MakeSigningKeyPair(privateKey, fresh);
  ASSERT_TRUE(SigningPublicKeyOf(privateKey, publicKey));
  EXPECT_EQ(publicKey, fresh);
  EXPECT_NE(privateKey, kRfcSecret);
}

TEST(SignedFileRecord, UtcTimesReadBackAndImpossibleDatesAreRefused) {
  struct Case {
    const char* text;
    int64_t seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2023-11-14T22:13:20Z", kNow},
      {"2038-01-19T03:14:08Z", 2147483648},
      {"2024-02-29T23:59:59Z", 1709251199},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatUtcTime(c.seconds), c.text);
    int64_t seconds = -1;
    ASSERT_TRUE(ParseUtcTime(c.text, seconds));
    EXPECT_EQ(seconds, c.seconds);
  }
  for (const char* text : {"2023-02-29T00:00:00Z", "2023-11-14T24:00:00Z", "2023-11-14 22:13:20Z",
                           "2023-11-14T22:13:20", "2023-1-14T22:13:20Z", "+023-11-14T22:13:20Z"}) {
    int64_t seconds = 0;
    EXPECT_FALSE(ParseUtcTime(text, seconds)) << text;
  }
}

class SignedFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SigningPublicKeyOf(kRfcSecret, publicKey_));
    WriteFile(file_, "[Version]\r\nVersion=1.1\r\n");
    record_ = {"GameVersion/Game_1.1/GameInfo.ini", 500, kNow + 3600, "", ""};
    ASSERT_TRUE(FileSha256Hex(file_.string(), record_.sha256));
    ASSERT_TRUE(SignFileRecord(kRfcSecret, record_));
  }

  SignatureExpectation Expected() const { return {publicKey_, record_.path, kNow, 500}; }

  SignatureCheck Check(const std::string& text, const SignatureExpectation& expected) const {
    SignedFileRecord read;
    return CheckSignedFile(text, file_.string(), expected, read);
  }

  testsupport::TempDir temp_;
  std::filesystem::path file_ = temp_.path() / "GameInfo.ini";
  std::string publicKey_;
  SignedFileRecord record_;
};

TEST_F(SignedFileTest, ASignedFileReadsBackAndChecksOut) {
  const std::string text = FormatSignedFileRecord(record_);
  EXPECT_EQ(text.substr(0, text.find("sha256=")),
            "tova-signed-file 1\npath=GameVersion/Game_1.1/GameInfo.ini\nserial=500\n"
            "expires=2023-11-14T23:13:20Z\n");
  SignedFileRecord read;
  ASSERT_EQ(CheckSignedFile(text, file_.string(), Expected(), read), SignatureCheck::kValid);
  EXPECT_EQ(read.serial, 500u);
  EXPECT_EQ(read.sha256, record_.sha256);
  std::string sha256;
  ASSERT_TRUE(FileSha256Hex(file_.string(), sha256));
  WriteFile(file_, "");
  ASSERT_TRUE(FileSha256Hex(file_.string(), sha256));
  EXPECT_EQ(sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Each way a signature file can fail, and the check that names it.
TEST_F(SignedFileTest, EachFailureNamesItsCheck) {
  const std::string good = FormatSignedFileRecord(record_);
  auto edited = [this](const std::function<void(SignedFileRecord&)>& edit) {
    SignedFileRecord changed = record_;
    edit(changed);
    return FormatSignedFileRecord(changed);
  };
  auto resigned = [this](const std::function<void(SignedFileRecord&)>& edit) {
    SignedFileRecord changed = record_;
    edit(changed);
    EXPECT_TRUE(SignFileRecord(kRfcSecret, changed));
    return FormatSignedFileRecord(changed);
  };
  std::string otherKey, otherPublic;
  MakeSigningKeyPair(otherKey, otherPublic);
  const SignatureExpectation expected = Expected();
  SignatureExpectation otherPath = expected;
  otherPath.path = "LauncherVersion/Launcher_1.1/GameInfo.ini";
  SignatureExpectation atExpiry = expected;
  atExpiry.now = record_.expires;
  SignatureExpectation higherSerial = expected;
  higherSerial.lowestSerial = 501;
  SignatureExpectation wrongKey = expected;
  wrongKey.publicKeyHex = otherPublic;

  struct Case {
    const char* what;
    std::string text;
    SignatureExpectation expected;
    SignatureCheck result;
  } cases[] = {
      {"as signed, serial equal to the accepted one", good, expected, SignatureCheck::kValid},
      {"empty", "", expected, SignatureCheck::kMalformed},
      {"cut short", good.substr(0, good.size() - 1), expected, SignatureCheck::kMalformed},
      {"a byte after the last line", good + "\r", expected, SignatureCheck::kMalformed},
      {"upper-case signature", edited([](SignedFileRecord& r) { r.signature[0] = 'A'; }), expected,
       SignatureCheck::kMalformed},
      {"path changed after signing", edited([](SignedFileRecord& r) { r.path = "GameVersion/version"; }), expected,
       SignatureCheck::kSignature},
      {"serial raised after signing", edited([](SignedFileRecord& r) { r.serial = 900; }), expected,
       SignatureCheck::kSignature},
      {"expiry moved after signing", edited([](SignedFileRecord& r) { r.expires += 86400; }), expected,
       SignatureCheck::kSignature},
      {"signed with another key", good, wrongKey, SignatureCheck::kSignature},
      {"signature of another file", good, otherPath, SignatureCheck::kPath},
      {"other bytes", resigned([](SignedFileRecord& r) { r.sha256[0] = r.sha256[0] == '0' ? '1' : '0'; }), expected,
       SignatureCheck::kDigest},
      {"expired at its expiry", good, atExpiry, SignatureCheck::kExpired},
      {"older serial", good, higherSerial, SignatureCheck::kRollback},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_STREQ(SignatureCheckName(Check(c.text, c.expected)), SignatureCheckName(c.result));
  }
}

TEST(SignedFileRecord, ParseRefusesAnythingButTheExactLayout) {
  const std::string sha = std::string(64, 'a');
  const std::string sig = std::string(128, 'b');
  auto text = [&](const std::string& serial, const std::string& path = "AutoPatch/AutoPatch.ini") {
    return "tova-signed-file 1\npath=" + path + "\nserial=" + serial + "\nexpires=2030-01-01T00:00:00Z\nsha256=" + sha +
           "\nsignature=" + sig + "\n";
  };
  SignedFileRecord record;
  ASSERT_TRUE(ParseSignedFileRecord(text("0"), record));
  ASSERT_TRUE(ParseSignedFileRecord(text("18446744073709551615"), record));
  EXPECT_EQ(record.serial, 18446744073709551615u);
  EXPECT_EQ(record.path, "AutoPatch/AutoPatch.ini");
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"leading zero", text("0500")},
      {"sign", text("+500")},
      {"serial too large", text("18446744073709551616")},
      {"empty serial", text("")},
      {"empty path", text("1", "")},
      {"another tag", "tova-signed-file 2" + text("1").substr(18)},
      {"extra line", text("1") + "extra\n"},
      {"fields swapped", "tova-signed-file 1\nserial=1\npath=x\nexpires=2030-01-01T00:00:00Z\nsha256=" + sha +
                             "\nsignature=" + sig + "\n"},
      {"short digest", "tova-signed-file 1\npath=x\nserial=1\nexpires=2030-01-01T00:00:00Z\nsha256=" + sha.substr(1) +
                           "\nsignature=" + sig + "\n"},
  };
  for (const auto& c : cases) {
    SignedFileRecord untouched;
    EXPECT_FALSE(ParseSignedFileRecord(c.text, untouched)) << c.what;
    EXPECT_TRUE(untouched.path.empty()) << c.what;
  }
}

}  // namespace
