// The signature-file reader on arbitrary text, and the whole check against a
// fixed key and file. A record that reads is in its one written form: it
// writes back to the same bytes, with digests of their exact length and an
// expiry that formats back to itself. No input verifies without the key's
// signature, so nothing here may be accepted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/SignedFileRecord.h"

namespace {

constexpr const char* kSignedPath = "GameInfo.ini";
// The public key of tests/data/signing/test.key.
constexpr std::string_view kPublicKey = "348511439e2b8340f0a8bfcb71a4399a7946a8a6570dacd01b50b4c431c879ce";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  const uint8_t listed[] = "[Version]\r\nVersion=1.0\r\n";
  fuzzsupport::WriteInput(kSignedPath, listed, sizeof listed - 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SignedFileRecord record;
  if (ParseSignedFileRecord(text, record)) {
    FUZZ_CHECK(FormatSignedFileRecord(record) == text);
    FUZZ_CHECK(record.sha256.size() == 64 && record.signature.size() == 128);
    int64_t expires = 0;
    FUZZ_CHECK(ParseUtcTime(FormatUtcTime(record.expires), expires) && expires == record.expires);
  } else {
    FUZZ_CHECK(record.path.empty() && record.serial == 0 && record.signature.empty());
  }
  const SignatureExpectation expected{kPublicKey, kSignedPath, 0, 0};
  SignedFileRecord checked;
  FUZZ_CHECK(CheckSignedFile(text, kSignedPath, expected, checked) != SignatureCheck::kValid);
  return 0;
}
