// Conversions between UTF-8, UTF-16 and code page 936 texts. Every input ends
// at its first NUL.
#pragma once

#include <string>
#include <string_view>

// Decodes the UTF-8 sequence at `i` (which must be within `text`) and moves
// `i` past it; an ill-formed sequence gives U+FFFD and consumes its longest
// valid beginning, at least one byte.
char32_t DecodeUtf8(std::string_view text, size_t& i);

// UTF-16 form of a UTF-8 text; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view text);

// UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view text);

// UTF-8 form of a code page 936 text (fixed, whatever the system setting).
// Each UTF-16 unit is encoded on its own (a surrogate gets the three-byte
// form). The output is limited to (n / 2) * 3 + 3 bytes for an input of n
// bytes: encoding stops before the first character that would not fit.
// "<ERR_MEMORY>" when n + 1 or (n / 2) * 3 + 4 reaches 0x80000 (n of 349524
// bytes or more). Conversion buffers are kept per thread and reused, so any
// thread may call it and results do not depend on other threads.
std::string AnsiToUtf8(std::string_view text);

// The text returned by AnsiToUtf8 for an input that is too long.
inline constexpr std::string_view kAnsiToUtf8TooLong = "<ERR_MEMORY>";
