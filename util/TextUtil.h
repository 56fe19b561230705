// Text helpers on 8-bit strings: blank removal, comma lists, path separators,
// URL percent-encoding and byte-size texts. No state is kept except through
// AnsiToUtf8 (see util/Encoding.h), so all are safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Removes every space, tab, carriage return and line feed, anywhere in the text.
void RemoveBlanks(std::string& text);

// Clears `list`, then appends the non-empty pieces of `text` between commas, in
// order (the text ends at its first NUL). Returns the number of pieces.
int SplitByComma(std::vector<std::string>& list, std::string_view text);

// A copy with every "\" turned into "/". A byte from 0x81 to 0xFE starts a
// double-byte character: it and the byte after it are kept as they are, so a
// second byte 0x5C is not a separator.
std::string BackslashToSlash(std::string_view text);

// The transmitted form of a URL taken as code page 936: converted to UTF-8
// (AnsiToUtf8), then everything up to and including the first "/" at or after
// index 8 (the end of the host part) is kept, and in the rest every byte other
// than an ASCII letter, digit or one of "#&./:?@\" becomes "%XX" (upper-case
// hex). Empty for an empty URL.
std::string UrlEncode(std::string_view url);

// "1023", "1.5K", "1.0M", "2.3G", "1.0T": the value itself below 1024
// (negative values included), else one decimal of K, M, G or T (powers of 1024).
std::string FormatByteSize(int64_t bytes);
