#include "platform/MachineHive.h"

#include <cstdlib>
#include <optional>

#include "platform/AsciiText.h"
#include "platform/RegistryFiles.h"

namespace {

// Wine hive text (keys up to "]", values up to '"'), starting just after the
// opening character: "\a" "\b" "\e" "\f" "\n" "\r" "\t" "\v", "\x" with up to
// four hexadecimal digits and up to three octal digits give UTF-16 units; any
// other escaped character stands for itself; an unescaped byte is one unit.
// On success `pos` is just past the closing character.
std::optional<std::u16string> UnescapeHive(std::string_view text, size_t& pos, char close) {
  std::u16string out;
  size_t i = pos;
  auto isOctal = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '7'; };
  auto hexAt = [&](size_t at) { return at < text.size() ? HexDigitValue(text[at]) : -1; };
  while (i < text.size() && text[i] != close) {
    if (text[i] != '\\') {
      out += static_cast<char16_t>(static_cast<unsigned char>(text[i++]));
      continue;
    }
    if (++i == text.size()) break;
    char c = text[i++];
    static constexpr std::string_view kLetters = "abefnrtv";
    static constexpr std::string_view kControls = "\a\b\x1b\f\n\r\t\v";
    if (size_t letter = kLetters.find(c); letter != std::string_view::npos) {
      out += static_cast<char16_t>(kControls[letter]);
    } else if (c == 'x' && hexAt(i) >= 0) {
      unsigned value = 0;
      for (int n = 0; n < 4 && hexAt(i) >= 0; ++n) value = value * 16 + static_cast<unsigned>(hexAt(i++));
      out += static_cast<char16_t>(value);
    } else if (c >= '0' && c <= '7') {
      unsigned value = static_cast<unsigned>(c - '0');
      for (int n = 0; n < 2 && isOctal(i); ++n) value = value * 8 + static_cast<unsigned>(text[i++] - '0');
      out += static_cast<char16_t>(value);
    } else {
      out += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
  }
  if (i >= text.size()) return std::nullopt;
  pos = i + 1;
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 units as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string HiveTextToUtf8(const std::u16string& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// The text of a string value line's data ('"..."', 'str:"..."' or
// 'str(2):"..."'); nothing for data of other types.
std::optional<std::string> HiveStringData(std::string_view data) {
  for (std::string_view prefix : {"str:", "str(2):"}) {
    if (data.substr(0, prefix.size()) == prefix) data.remove_prefix(prefix.size());
  }
  if (data.empty() || data.front() != '"') return std::nullopt;
  size_t pos = 1;
  std::optional<std::u16string> text = UnescapeHive(data, pos, '"');
  if (!text) return std::nullopt;
  return HiveTextToUtf8(*text);
}

}  // namespace

std::string MachineHivePath() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0') return std::string(prefix) + "/system.reg";
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/.wine/system.reg";
}

std::vector<UninstallEntry> ListUninstallEntries(std::string_view uninstallKey, const std::string& hivePath) {
  std::vector<UninstallEntry> entries;
  if (hivePath.empty()) return entries;
  while (!uninstallKey.empty() && uninstallKey.back() == '\\') uninstallKey.remove_suffix(1);
  const size_t keyLength = uninstallKey.size();

  std::optional<std::string> subkey;  // set while inside a direct subkey
  bool named = false;                 // its "DisplayName" has been taken
  for (const std::string& line : ReadTextLines(hivePath)) {
    if (line.empty()) continue;
    if (line.front() == '[') {
      subkey.reset();
      named = false;
      size_t pos = 1;
      std::optional<std::u16string> name = UnescapeHive(line, pos, ']');
      if (!name) continue;
      std::string key = HiveTextToUtf8(*name);
      if (key.size() > keyLength + 1 && key[keyLength] == '\\' &&
          EqualsIgnoreCase(std::string_view(key).substr(0, keyLength), uninstallKey) &&
          key.find('\\', keyLength + 1) == std::string::npos)
        subkey = key.substr(keyLength + 1);
      continue;
    }
    if (!subkey || named || line.front() != '"') continue;
    size_t pos = 1;
    std::optional<std::u16string> name = UnescapeHive(line, pos, '"');
    if (!name || !EqualsIgnoreCase(HiveTextToUtf8(*name), "DisplayName") || pos >= line.size() || line[pos] != '=')
      continue;
    if (std::optional<std::string> text = HiveStringData(std::string_view(line).substr(pos + 1))) {
      entries.push_back({*subkey, std::move(*text)});
      named = true;
    }
  }
  return entries;
}
