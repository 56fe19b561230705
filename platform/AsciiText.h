// Text helpers on 8-bit strings that know ASCII only: blanks trimmed from the
// ends, names compared and lowered without regard to letter case. Other bytes
// (UTF-8, code page 936) are compared and kept as they are, and no locale is
// consulted, so the results are the same on every machine. They sit at the
// lowest layer because the INI and registry readers here need them as much as
// the layers above. No state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The blanks Trim removes unless given others: the C locale's white space.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// `text` without the leading and trailing bytes that occur in `blanks` (a
// view into `text`).
std::string_view Trim(std::string_view text, std::string_view blanks = kWhiteSpace);

// True when the texts have the same length and differ at most in the case of
// ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// A copy with the ASCII letters A to Z in lower case.
std::string ToLowerAscii(std::string_view text);

// Appends the bytes as two hexadecimal digits each, upper or lower case.
void AppendHex(std::string& out, const uint8_t* bytes, size_t length, bool upperCase);

// The value of a hexadecimal digit ("0" to "9", "a" to "f" in either case);
// -1 for any other byte.
int HexDigitValue(char c);
