// QoPatchUser::DoAnalysisFile on an arbitrary unpacked file: the payload is the
// file without its markers ("QOCP", "QOXD", "QORS", each with a 0x00, only in
// that order and only at the start), "QOXD" marks a delta, and the unpacked
// file stays as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/QoPatchUser.h"

namespace {

constexpr const char* kSource = "TempUpdata\\Unzip\\bin\\a.dll";
constexpr const char* kSourceSystem = "TempUpdata/Unzip/bin/a.dll";
constexpr const char* kTarget = "TempUpdata\\bin\\a.dll";
constexpr const char* kTargetSystem = "TempUpdata/bin/a.dll";

bool TakeMarker(std::string_view& rest, std::string_view marker) {
  if (!rest.starts_with(marker)) return false;
  rest.remove_prefix(marker.size());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace std::string_view_literals;
  fuzzsupport::ClearWorkspace();
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzsupport::WriteInput(kSourceSystem, data, size);

  std::string_view payload = input;
  TakeMarker(payload, "QOCP\0"sv);
  const bool delta = TakeMarker(payload, "QOXD\0"sv);
  TakeMarker(payload, "QORS\0"sv);

  QoPatchUser user(nullptr);
  FUZZ_CHECK(user.DoAnalysisFile(kSource, kTarget));
  FUZZ_CHECK(user.m_bUserXdel() == delta);
  FUZZ_CHECK(fuzzsupport::ReadBack(kTargetSystem) == payload);
  FUZZ_CHECK(fuzzsupport::ReadBack(kSourceSystem) == input);
  return 0;
}
