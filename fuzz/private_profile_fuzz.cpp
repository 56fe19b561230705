// GetPrivateProfileString and GetPrivateProfileInt on arbitrary file contents.
// The names asked for are the ones the launcher reads and every section and
// key name the file itself spells, so that matches are reached, with the
// smallest buffer and the launcher's usual one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "platform/PrivateProfile.h"

namespace {

constexpr const char* kPath = "input.ini";
constexpr std::string_view kDefault = "default";
constexpr size_t kQueries = 24;

using Query = std::pair<std::string, std::string>;

std::vector<Query> Queries(std::string_view text) {
  std::vector<Query> queries = {
      {"PatchHistory", "PatchNum"}, {"PatchHistory", "VersionNow"}, {"Patch_0", "VersionFrom"},
      {"Packages", "PackageNum"},   {"Packages", "Package0"},       {"PatchVersion", "VersionOld"},
      {"Version", "Version"},       {"update", "updateUrl"},        {"", ""}};
  std::string section;
  while (!text.empty() && queries.size() < kQueries) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    size_t open = line.find('[');
    size_t close = line.find(']');
    if (open != std::string_view::npos && close != std::string_view::npos && open < close) {
      section = std::string(line.substr(open + 1, close - open - 1));
    } else {
      queries.emplace_back(section, std::string(line.substr(0, line.find('='))));
    }
  }
  return queries;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::WriteInput(kPath, data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [section, key] : Queries(text)) {
    const std::string whole = GetPrivateProfileString(section, key, kDefault, 1 << 20, kPath);
    // A value is text of the file (blanks and one pair of quotes removed).
    FUZZ_CHECK(whole == kDefault || text.find(whole) != std::string_view::npos);
    for (size_t bufferSize : {size_t{1}, size_t{260}}) {
      const std::string cut = GetPrivateProfileString(section, key, kDefault, bufferSize, kPath);
      FUZZ_CHECK(cut.size() < bufferSize || cut.empty());
      FUZZ_CHECK(whole.compare(0, cut.size(), cut) == 0);
    }
    GetPrivateProfileInt(section, key, -7, kPath);
  }
  return 0;
}
