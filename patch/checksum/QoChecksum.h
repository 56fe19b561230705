// Digests of buffers, texts and files: CRC-32, MD5, SHA-1 and SHA-256, raw or as
// hexadecimal text. An object keeps no state between calls, so the shared
// instances may be used from any thread. Outputs are written only on success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class QoChecksum {
 public:
  // The largest raw digest of any class (SHA-256), for callers' buffers.
  static constexpr size_t kLargestDigestSize = 32;

  virtual ~QoChecksum() = default;

  // Class tag: 1 for CRC, 3 for MD5, SHA-1 and SHA-256.
  virtual int GetType() const = 0;

  // Raw digest of `length` bytes into `digest` (sized for the class).
  // False when data or digest is null or length is 0.
  [[nodiscard]] virtual bool MakeBufferDigest(const void* data, size_t length, uint8_t* digest) const = 0;
  // Appends the upper-case hex digest. False when data is null or length is 0.
  [[nodiscard]] virtual bool MakeBufferHex(const void* data, size_t length, std::string& out) const = 0;
  // Raw digest of the text's bytes. False when the text is empty or digest null.
  [[nodiscard]] virtual bool MakeStringDigest(const std::string& text, uint8_t* digest) const = 0;
  // Appends the hex digest of the text's bytes (SHA-1: lower case). False when
  // the text is empty.
  [[nodiscard]] virtual bool MakeStringHex(const std::string& text, std::string& out) const = 0;
  // Raw digest of a file's bytes, read streaming. False when the path is
  // empty, digest null, or MakeFileHex would fail.
  [[nodiscard]] virtual bool MakeFileDigest(const std::string& path, uint8_t* digest) const = 0;
  // Appends the upper-case hex digest of the file's bytes, read streaming.
  // The path is in the system's form ("\" separators). False when the path
  // is empty, missing, not a regular file (a folder, a FIFO), or the file
  // cannot be opened or read to its end.
  [[nodiscard]] virtual bool MakeFileHex(const std::string& path, std::string& out) const = 0;
};

// Shared instances, created once on first use (thread-safe) and never destroyed.
const QoChecksum& GetCrcChecksum();
const QoChecksum& GetMd5Checksum();
const QoChecksum& GetSha1Checksum();
const QoChecksum& GetSha256Checksum();
