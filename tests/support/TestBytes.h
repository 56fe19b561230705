// Contents for fixtures: reproducible pseudo-random bytes, and the digest texts
// the launcher writes and checks, made with Crypto++ rather than with the code
// under test.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

// `length` pseudo-random bytes, the same for the same seed (the low byte of
// each draw of a std::mt19937 seeded with `seed`).
std::string RandomBytes(size_t length, unsigned seed);

// Upper-case MD5 text of the bytes (also of no bytes).
std::string Md5Of(const std::string& bytes);

// Upper-case CRC-32 text of the bytes, least significant byte first
// ("00000000" for no bytes).
std::string CrcOf(const std::string& bytes);

}  // namespace testsupport
