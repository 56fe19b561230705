// UnzipPackage on arbitrary bytes. Whatever the archive holds, nothing may be
// written outside the destination folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/UnzipPackage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Names = std::vector<std::string>;
  fuzzsupport::ClearWorkspace();
  fuzzsupport::WriteInput("package.zip", data, size);
  // Success or failure, only where files land is checked.
  static_cast<void>(UnzipPackage("package.zip", "game\\dest"));
  const Names top = fuzzsupport::ListFolder(".");
  FUZZ_CHECK(top == (Names{"game", "package.zip"}) || top == Names{"package.zip"});
  if (top.size() == 2) FUZZ_CHECK(fuzzsupport::ListFolder("game") == Names{"dest"});
  return 0;
}
