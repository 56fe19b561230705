// Code page 936 (simplified Chinese, Windows form: 0x80 is the euro sign)
// through glibc iconv.
#pragma once

#include <string>
#include <string_view>

// Replaces `out` with the UTF-16 form of `bytes`. A byte that does not start a
// valid character becomes "?" and decoding goes on with the next byte. False
// (with `out` empty) only when the system has no code page 936 converter.
// Any thread; converters are kept per thread.
[[nodiscard]] bool DecodeCodePage936(std::string_view bytes, std::u16string& out);

// Exact conversions of names between code page 936 and UTF-8. Texts of ASCII
// bytes are copied as they are. False (with `out` empty) when the input holds
// a NUL, a sequence that is not a character of its encoding, or a character
// that the other one cannot hold. Any thread.
[[nodiscard]] bool CodePage936ToUtf8(std::string_view bytes, std::string& out);
[[nodiscard]] bool Utf8ToCodePage936(std::string_view text, std::string& out);
