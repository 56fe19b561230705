// A small read-only INI parser: the whole file becomes an ordered list of
// sections, each an ordered list of key/value entries, with the comment lines
// that precede every section and entry. Names and keys are compared byte-wise
// and case-sensitively; the first match wins. The reader never writes files.
//
// One object is used by one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Result codes of Load and the lookups (1 and 7 are not used).
inline constexpr int INI_OK = 0;
inline constexpr int INI_NO_CLOSING_BRACKET = 2;  // a line starting with "[" has no "]"
inline constexpr int INI_EMPTY_SECTION_NAME = 3;  // "]" directly follows "["
inline constexpr int INI_DUPLICATE_SECTION = 4;   // a section of that name already exists
inline constexpr int INI_BAD_LINE = 5;            // neither blank, comment, header nor "key=value"
inline constexpr int INI_OPEN_FAILED = 6;         // the file cannot be opened for reading
inline constexpr int INI_KEY_NOT_FOUND = 8;       // section found, key not found
inline constexpr int INI_SECTION_NOT_FOUND = 9;   // section not found

struct IniEntry {
  std::string key;           // trimmed text before the first "=" (may be empty)
  std::string value;         // trimmed text after the first "=" (may hold "=")
  std::string comment;       // comment block collected before the line
  std::string rightComment;  // trimmed text after the comment marker on the line
};

struct IniSection {
  std::string name;          // trimmed text between "[" and the first "]"
  std::string comment;       // comment block collected before the header
  std::string rightComment;  // trimmed text after the comment marker on the header
  std::vector<IniEntry> entries;
};

class IniDocument {
 public:
  explicit IniDocument(std::string commentMarker = "#");

  // Discards everything held, remembers `path` and parses the file. Parsing
  // stops at the first bad line (codes 2 to 5); what was read before it stays.
  // INI_OPEN_FAILED leaves no sections at all; otherwise the first section is
  // the unnamed one (""), holding the entries before the first header.
  // A read error after opening ends the parse like the end of the file.
  [[nodiscard]] int Load(const std::string& path);

  // On INI_OK sets `value` (and `comment`, if given) from the first entry with
  // this key in the first section with this name. On INI_SECTION_NOT_FOUND or
  // INI_KEY_NOT_FOUND both outputs are left untouched.
  int GetValue(std::string_view section, std::string_view key, std::string& value, std::string* comment = nullptr);

  // Stores IniToInt of the value found: 0 when the lookup fails (its code is
  // returned), 12 for "12abc".
  int GetIntValue(std::string_view section, std::string_view key, int& number);

  // Forgets the path and frees all sections and entries.
  void Release();

  const std::vector<IniSection>& sections() const { return sections_; }
  const std::string& filePath() const { return filePath_; }
  const std::string& commentMarker() const { return commentMarker_; }
  // Text of the last failure; later successes do not clear it.
  const std::string& errorMessage() const { return errorMessage_; }

 private:
  int Fail(int code, std::string message);

  std::vector<IniSection> sections_;
  // Per section: key -> index of its first entry, so that reading a list of
  // many numbered keys does not walk the section once per key.
  std::vector<std::unordered_map<std::string, size_t>> firstEntry_;
  std::string filePath_;
  std::string commentMarker_;
  std::string errorMessage_;
};

// The number C's atoi reads from an INI value: leading blanks, an optional
// sign, then decimal digits up to the first other character; 0 when there are
// none. Values outside the int range are clamped to it.
int IniToInt(std::string_view text);
