// Rules for the disk serial texts that go into the device identity.
#pragma once

#include <string>
#include <string_view>

// A text that begins with a letter or digit is returned unchanged. Otherwise
// the bytes that are neither letters nor digits are removed from its end and
// from its start, and what lies between is returned (empty when nothing is
// left). Each byte is classified on its own as a Latin-1 character: ASCII
// letters and digits, and the Latin-1 letters from 0xC0 up (and 0xAA, 0xB5,
// 0xBA), count as letters or digits.
std::string TrimToAlnum(std::string_view text);

// Decodes a serial reported as hexadecimal text of the identify bytes: the
// text is taken four characters at a time; in each group the byte written by
// characters 3 and 4 comes first, then the byte written by characters 1 and 2
// (two hex digits each, either case; any other character, or one missing at
// the end, counts as 0). Bytes that are zero are left out.
std::string DecodeHexSerial(std::string_view text);
