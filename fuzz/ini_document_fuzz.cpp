// IniDocument::Load and its lookups on arbitrary file contents. Every entry the
// document holds must be found again by its section and key, as the first
// entry of that key, and the parsed pieces keep the shape the reader
// promises (trimmed names, no comment marker in a value).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWorkspace.h"
#include "patch/IniDocument.h"

namespace {

constexpr const char* kPath = "input.ini";

bool IsTrimmed(const std::string& text) {
  return text.empty() || (!std::isspace(static_cast<unsigned char>(text.front())) &&
                          !std::isspace(static_cast<unsigned char>(text.back())));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::EnterWorkspace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::WriteInput(kPath, data, size);
  IniDocument doc("#");
  const int code = doc.Load(kPath);
  FUZZ_CHECK(code == INI_OK || (code >= INI_NO_CLOSING_BRACKET && code <= INI_BAD_LINE));
  FUZZ_CHECK(!doc.sections().empty() && doc.sections().front().name.empty());

  std::set<std::string> names;
  for (const IniSection& section : doc.sections()) {
    FUZZ_CHECK(names.insert(section.name).second);  // duplicates are refused
    FUZZ_CHECK(IsTrimmed(section.name) && IsTrimmed(section.rightComment));
    std::set<std::string> seen;
    for (const IniEntry& entry : section.entries) {
      FUZZ_CHECK(IsTrimmed(entry.key) && IsTrimmed(entry.value) && IsTrimmed(entry.rightComment));
      FUZZ_CHECK(entry.key.find('=') == std::string::npos);
      FUZZ_CHECK(entry.key.find('#') == std::string::npos && entry.value.find('#') == std::string::npos);
      if (!seen.insert(entry.key).second) continue;
      std::string value = "unset";
      std::string comment = "unset";
      FUZZ_CHECK(doc.GetValue(section.name, entry.key, value, &comment) == INI_OK);
      FUZZ_CHECK(value == entry.value && comment == entry.comment);
      int number = -1;
      FUZZ_CHECK(doc.GetIntValue(section.name, entry.key, number) == INI_OK);
      FUZZ_CHECK(number == IniToInt(entry.value));
    }
  }

  std::string untouched = "unset";
  const int missing = doc.GetValue("no such section\n", "key", untouched);
  FUZZ_CHECK(missing == INI_SECTION_NOT_FOUND && untouched == "unset");

  // A second load of the same file gives the same document.
  IniDocument again("#");
  FUZZ_CHECK(again.Load(kPath) == code);
  FUZZ_CHECK(again.sections().size() == doc.sections().size());
  return 0;
}
