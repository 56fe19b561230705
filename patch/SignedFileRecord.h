// Signature files of a signed update-server tree: "<name>.sig" next to every
// version file, list and description vouches for that file's bytes, for the
// path it lies at below the server base, for the publication it belongs to
// (the release serial) and for how long it may be used (the expiry). The
// publisher writes them with its private key; the launcher checks them with
// the public key built into it. docs/signatures.md describes the format.
//
// Keys and signatures are Ed25519 (32-byte keys, 64-byte signatures), written
// as lower-case hexadecimal text. Everything here is free of shared state and
// may be used from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The first line of every signature file.
inline constexpr const char* kSignedFileTag = "tova-signed-file 1";
// The signature file of "<name>" is "<name>" followed by this.
inline constexpr const char* kSignatureFileSuffix = ".sig";
// A signature file is far smaller than this; a larger one is refused unread.
inline constexpr uint64_t kSignatureFileMaxBytes = 4096;

inline constexpr size_t kSigningKeyBytes = 32;
inline constexpr size_t kSignatureBytes = 64;

// What one signature file says.
struct SignedFileRecord {
  std::string path;       // below the server base, "/" separators, no leading "/"
  uint64_t serial = 0;    // the publication's release serial
  int64_t expires = 0;    // seconds since 1970-01-01 UTC; not valid from then on
  std::string sha256;     // 64 lower-case hex digits of the file's SHA-256
  std::string signature;  // 128 lower-case hex digits over the lines before it
};

// The lines the signature covers: tag, path, serial, expiry, SHA-256, each
// ending with "\n".
std::string FormatSignedPart(const SignedFileRecord& record);
// The whole file: the signed lines and the signature line.
std::string FormatSignedFileRecord(const SignedFileRecord& record);
// Reads a whole signature file. False (the record untouched) unless it is
// exactly the six lines FormatSignedFileRecord writes: the tag, each field in
// its order with its name, numbers in decimal without sign or leading zeros,
// the expiry as "YYYY-MM-DDTHH:MM:SSZ", digests in lower-case hex of their
// exact length, every line ending with "\n" and nothing after the last.
[[nodiscard]] bool ParseSignedFileRecord(std::string_view text, SignedFileRecord& record);

// "YYYY-MM-DDTHH:MM:SSZ" of a time in seconds since 1970 (UTC), and back.
std::string FormatUtcTime(int64_t seconds);
[[nodiscard]] bool ParseUtcTime(std::string_view text, int64_t& seconds);

// The lower-case hex SHA-256 of a file's bytes (path in the system's "/" or
// the launcher's "\" form). False when the file cannot be read to its end.
[[nodiscard]] bool FileSha256Hex(const std::string& path, std::string& hex);

// A new key pair from the system's random source: the private key (its
// 32-byte seed) and the public key, both as hex.
void MakeSigningKeyPair(std::string& privateKeyHex, std::string& publicKeyHex);
// The public key of a private key. False when the private key is not 64 hex
// digits.
[[nodiscard]] bool SigningPublicKeyOf(std::string_view privateKeyHex, std::string& publicKeyHex);
// Fills record.signature over FormatSignedPart(record). False when the
// private key is not 64 hex digits.
[[nodiscard]] bool SignFileRecord(std::string_view privateKeyHex, SignedFileRecord& record);

// Why a signed file cannot be used; kValid when it can.
enum class SignatureCheck {
  kValid,
  kMissing,    // no signature file could be fetched
  kMalformed,  // the signature file is not in the format
  kSignature,  // the signature does not verify with the public key
  kPath,       // it vouches for another path
  kDigest,     // the file's SHA-256 differs
  kExpired,    // the expiry has passed
  kRollback,   // its serial is lower than one accepted before
};
// A short name of the check for log lines: "missing", "malformed", ...
const char* SignatureCheckName(SignatureCheck check);

// What a signature file must say to be accepted.
struct SignatureExpectation {
  std::string_view publicKeyHex;  // 64 hex digits
  std::string_view path;          // the file's own path below the base
  int64_t now = 0;                // seconds since 1970 UTC
  uint64_t lowestSerial = 0;      // the highest serial accepted before
};

// Checks the signature file `recordText` for the file at `filePath` in this
// order: format, signature, path, SHA-256, expiry, serial; the first that
// fails is the result. On kValid, `record` holds what the file says.
[[nodiscard]] SignatureCheck CheckSignedFile(std::string_view recordText, const std::string& filePath,
                                             const SignatureExpectation& expected, SignedFileRecord& record);
