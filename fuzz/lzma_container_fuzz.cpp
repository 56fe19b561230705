// QoPatchUser::CheckIsLzma and DoUnLzma on an arbitrary file in the staging
// folder. Before the decoded file is put in place the source is untouched, so
// a failed expansion must leave the unpacked file as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/QoPatchUser.h"

namespace {

constexpr const char* kName = "data\\chunked.bin";
constexpr const char* kSystemPath = "TempUpdata/Unzip/data/chunked.bin";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::ClearWorkspace();
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzsupport::WriteInput(kSystemPath, data, size);

  QoPatchUser user(nullptr);
  const bool marked = user.CheckIsLzma(std::string(kUnzipFolder) + kName);
  FUZZ_CHECK(marked == (size >= 12 && input.starts_with("LZMA")));
  if (!user.DoUnLzma(kName)) {
    FUZZ_CHECK(fuzzsupport::ReadBack(kSystemPath) == input);
  } else {
    FUZZ_CHECK(size == 0 || input.starts_with("LZMA"));
  }
  return 0;
}
