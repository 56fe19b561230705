// One-shot LZMA decoding with five property bytes, as the LZMA SDK's
// LzmaUncompress: decodes from `src` into `dest` until `*destLen` bytes are
// produced, the stream's end mark is met, or the input runs out.
#pragma once

#include <cstddef>

// Result codes (the LZMA SDK's SZ_* values).
inline constexpr int kLzmaOk = 0;
inline constexpr int kLzmaErrorData = 1;
inline constexpr int kLzmaErrorMemory = 2;
inline constexpr int kLzmaErrorUnsupported = 4;
inline constexpr int kLzmaErrorInputEof = 6;

// On return `*destLen` holds the bytes produced and `*srcLen` the bytes read.
// kLzmaErrorInputEof when the input ends before `*destLen` bytes were produced
// and the stream has no end mark there; kLzmaErrorUnsupported for bad property
// bytes; kLzmaErrorData for a corrupt stream. Re-entrant.
[[nodiscard]] int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
                                 const unsigned char* props, size_t propsSize);
