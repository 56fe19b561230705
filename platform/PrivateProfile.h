// Reading the Windows private-profile INI files ("launcher.ini") the way
// GetPrivateProfileStringA and GetPrivateProfileIntA read them. The file is
// read afresh on every call (it is small and may change between calls) and is
// never written. Any thread may call.
//
// File form, as Windows reads it:
// - a line "[name]" opens a section; the name is the text up to the first "]",
//   blanks around it removed; lines before the first section belong to none;
// - any other line is "key=value": the key is the text before the first "=",
//   the value the text after it, blanks around both removed; a line without
//   "=" is a key with an empty value;
// - section and key names match without regard to ASCII letter case; the first
//   section of the name is searched, and the first key of the name in it wins
//   (a key only in a later section of the same name is not seen);
// - a value that starts and ends with the same quote (' or ") loses that one
//   pair of quotes, as in Windows, so "http://host" and http://host read alike;
// - there are no comments: ";x=1" is a key named ";x", and text after a value
//   ("1 ; note") belongs to the value;
// - lines may end with "\r\n"; a UTF-8 byte order mark at the start is skipped.
// The path is in the system's form ("\" separators), relative to the current
// folder; a missing or unreadable file reads like an empty one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The value of `key` in `section`, cut to `bufferSize` - 1 bytes (the size of
// the caller's character buffer, terminator included). When the file, the
// section or the key is missing: `defaultValue` without its trailing blanks,
// cut the same way. A key that is present with an empty value gives "".
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    size_t bufferSize, std::string_view path);

// The leading integer of the value: optional "+" or "-", then decimal digits
// up to the first other character ("12abc" gives 12, "abc" gives 0, "0x10"
// gives 0); values past 32 bits wrap around. `defaultValue` when the file, the
// section or the key is missing, or the value is empty.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, std::string_view path);

// The same file read once, answering the same lookups with the same results
// from memory: for a reader that asks for many keys, since each call above
// reads the whole file (a description that announces thousands of entries
// would otherwise be read thousands of times). A missing or unreadable file
// reads like an empty one. Const calls may run on several threads.
class PrivateProfileSnapshot {
 public:
  explicit PrivateProfileSnapshot(std::string_view path);

  // As GetPrivateProfileString and GetPrivateProfileInt.
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                        size_t bufferSize) const;
  int GetInt(std::string_view section, std::string_view key, int defaultValue) const;

  // The distinct key names (in lower case) of the section that a lookup
  // searches, in the order of their first line.
  std::vector<std::string> Keys(std::string_view section) const;
  // The distinct section names (in lower case), in the order of their first
  // header.
  const std::vector<std::string>& Sections() const { return sectionOrder_; }

 private:
  struct Section {
    std::vector<std::string> keys;                        // lower case, first lines' order
    std::unordered_map<std::string, std::string> values;  // lower-case key -> first value
  };
  const std::string* Find(std::string_view section, std::string_view key) const;

  std::unordered_map<std::string, Section> sections_;  // lower-case name -> first section of it
  std::vector<std::string> sectionOrder_;
};

// The indices i (0 <= i < count) for which `names` holds `prefix` followed by
// i in decimal without padding, in ascending order; `names` (distinct) and
// `prefix` in lower case, as Keys() and Sections() give them. For readers of numbered keys
// or sections ("File0", "Patch_3"): they visit what the file holds instead of
// every index that a count in the file announces.
std::vector<int> NumberedIndices(const std::vector<std::string>& names, std::string_view prefix, int count);
