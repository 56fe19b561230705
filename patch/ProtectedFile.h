// The protected form of version file lists and descriptions: a 100-byte header
// ("SEPCIAL_FILE_HD", 0x00, and at offset 24 the CRC text of the plain body)
// followed by the body, every byte of the file XORed with
// key[offset mod 128]. Readers accept either form: a file without the header
// is taken to be plain already.
//
// The functions keep no state; any thread may call them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "BuildSettings.h"

inline constexpr size_t kProtectionKeySize = 128;
inline constexpr size_t kProtectedHeaderSize = 100;
inline constexpr size_t kProtectedCrcOffset = 24;
// Files of this size or larger are refused.
inline constexpr size_t PROTECTED_FILE_MAX = 0x1E00000;

using ProtectionKey = std::array<uint8_t, kProtectionKeySize>;
using ProtectedHeader = std::array<uint8_t, kProtectedHeaderSize>;

// key[i] = rand() % 255 for i = 0..127 after srand(seed), with the Microsoft C
// runtime's generator (state = state * 214013 + 2531011, result = bits 16..30
// of the state). The launcher and the publisher tool share the build's seed.
// The C library's own rand() state is not touched.
void BuildProtectionKey(ProtectionKey& key, uint32_t seed = LAUNCHER_PROTECTION_SEED);

// Deciphers the first 100 bytes of `data` and checks the magic (the 15 letters
// and the 0x00 after them). On a match copies the deciphered header to
// `headerOut` (when given) and returns true; false when `data` holds fewer
// than 100 bytes or the magic does not match.
[[nodiscard]] bool ReadProtectedHeader(std::span<const uint8_t> data, const ProtectionKey& key,
                                       ProtectedHeader* headerOut);

// Turns the protected file at `path` into its plain body, in place, and checks
// the body against the header's CRC text. Returns true when the file at `path`
// is plain text afterwards: a file shorter than 100 bytes or without the magic
// is left untouched and counts as plain. Returns false, without a log line,
// when the file cannot be read, is 30 MiB (PROTECTED_FILE_MAX) or larger,
// cannot be rewritten, or its CRC cannot be computed; on a CRC mismatch it
// logs "memcmp Error strCrc = ... cryptHead =..." and returns false with the
// deciphered body already written.
[[nodiscard]] bool UnprotectFile(const ProtectionKey& key, const std::string& path);

// The protected form of `plain`: header with the upper-case CRC text (least
// significant byte first) at offset 24, zeros elsewhere, then the body, all
// scrambled from offset 0.
std::string ProtectBuffer(const ProtectionKey& key, std::string_view plain);

// Replaces the file at `path` by its protected form. False when the file
// cannot be read, would reach PROTECTED_FILE_MAX once protected, or cannot be
// written.
[[nodiscard]] bool ProtectFile(const ProtectionKey& key, const std::string& path);
