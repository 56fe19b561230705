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
