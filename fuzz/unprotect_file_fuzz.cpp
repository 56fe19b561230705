// UnprotectFile on arbitrary file contents, and the round trip of any content
// through ProtectBuffer and UnprotectFile.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/ProtectedFile.h"

namespace {

constexpr const char* kPath = "list.ini";
constexpr const char* kRoundTripPath = "round.ini";

const ProtectionKey& Key() {
  static const ProtectionKey key = [] {
    ProtectionKey built;
    BuildProtectionKey(built);
    return built;
  }();
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzsupport::WriteInput(kPath, data, size);
  const bool plain = UnprotectFile(Key(), kPath);
  const std::string after = fuzzsupport::ReadBack(kPath);

  if (!ReadProtectedHeader(std::span(data, size), Key(), nullptr)) {
    // Not protected: taken as plain and left alone.
    FUZZ_CHECK(plain && after == input);
  } else {
    // Protecting the deciphered body again gives the stored body back, and the
    // check succeeds exactly when the stored CRC text is the body's.
    const std::string again = ProtectBuffer(Key(), after);
    FUZZ_CHECK(again.size() == input.size());
    FUZZ_CHECK(again.compare(kProtectedHeaderSize, std::string::npos, input, kProtectedHeaderSize) == 0);
    FUZZ_CHECK(plain == (again.compare(kProtectedCrcOffset, 8, input, kProtectedCrcOffset, 8) == 0));
  }

  const std::string protectedForm = ProtectBuffer(Key(), input);
  fuzzsupport::WriteInput(kRoundTripPath, reinterpret_cast<const uint8_t*>(protectedForm.data()), protectedForm.size());
  FUZZ_CHECK(UnprotectFile(Key(), kRoundTripPath));
  FUZZ_CHECK(fuzzsupport::ReadBack(kRoundTripPath) == input);
  return 0;
}
