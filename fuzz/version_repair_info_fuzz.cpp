// QoVersionRepairInfo's two reads on arbitrary list contents. The list given
// is never changed, the deciphered copy in the temporary folder is gone when a
// read returns, and every record read has five usable fields.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/QoVersionRepairInfo.h"
#include "patch/SafeName.h"
#include "platform/TempFolder.h"

namespace {

constexpr const char* kPath = "GameInfo.ini";

// Whether a deciphered copy is left in the temporary folder.
bool CopyLeft() {
  for (const auto& entry : std::filesystem::directory_iterator(GetTempFolderPath())) {
    if (entry.path().filename().string().starts_with(kVersionListTempName)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzzsupport::WriteInput(kPath, data, size);
  FUZZ_CHECK(!GetTempFolderPath().empty());

  QoVersionRepairInfo list(nullptr);
  const bool listRead = list.InputVerRepairFileList(kPath);
  FUZZ_CHECK(!CopyLeft());
  FUZZ_CHECK(fuzzsupport::ReadBack(kPath) == input);
  if (!listRead) FUZZ_CHECK(list.version().empty() && list.files().empty());
  for (const VersionFileRecord& record : list.files()) {
    FUZZ_CHECK(!record.fileName.empty() && !record.md5.empty() && !record.crc.empty());
    FUZZ_CHECK(IsSafeRelativeName(record.fileName));
  }

  QoVersionRepairInfo version(nullptr);
  // Read or not, the checks below hold.
  static_cast<void>(version.InputVerRepairInfoFile(kPath));
  FUZZ_CHECK(!CopyLeft());
  FUZZ_CHECK(fuzzsupport::ReadBack(kPath) == input);
  FUZZ_CHECK(version.version().size() < 260);
  return 0;
}
