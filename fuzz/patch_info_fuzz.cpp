// QoPatchInfo's two reads on arbitrary description contents. Both see the same
// versions and packages; a successful read names only safe files and gives
// no package more files than its count announces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/QoPatchInfo.h"
#include "patch/SafeName.h"

namespace {

constexpr const char* kPatchPath = "patchinfo.ini";
constexpr const char* kListPath = "intallinfo.ini";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::WriteInput(kPatchPath, data, size);
  fuzzsupport::WriteInput(kListPath, data, size);

  QoPatchInfo patch;
  const int patchResult = patch.InputPatchInfoFile(kPatchPath);
  QoPatchInfo list;
  const int listResult = list.InputPackageList(kListPath);
  FUZZ_CHECK(patchResult == 0 || patchResult == -1);
  FUZZ_CHECK(listResult == 0 || listResult == -1);
  // The package list alone may succeed where a file of a package is unsafe.
  FUZZ_CHECK(patchResult == -1 || listResult == 0);
  if (patchResult == -1) {
    FUZZ_CHECK(patch.packages().empty() && patch.versionOld().empty() && patch.versionNew().empty());
    return 0;
  }

  FUZZ_CHECK(patch.versionOld() == list.versionOld() && patch.versionNew() == list.versionNew());
  FUZZ_CHECK(patch.packages().size() == list.packages().size());
  for (size_t i = 0; i < patch.packages().size(); ++i) {
    const PackageInfo& package = patch.packages()[i];
    FUZZ_CHECK(package.fileName == list.packages()[i].fileName && list.packages()[i].files.empty());
    FUZZ_CHECK(IsSafeRelativeName(package.fileName));
    FUZZ_CHECK(package.files.size() <= static_cast<size_t>(std::max(package.fileCount, 0)));
    for (const PatchFileInfo& file : package.files) FUZZ_CHECK(IsSafeRelativeName(file.fileName));
  }
  return 0;
}
