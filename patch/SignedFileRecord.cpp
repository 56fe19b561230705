#include "patch/SignedFileRecord.h"

#include <cryptopp/osrng.h>
#include <cryptopp/xed25519.h>

#include <array>
#include <charconv>
#include <ctime>

#include "patch/checksum/QoChecksum.h"
#include "platform/AsciiText.h"

namespace {

constexpr size_t kSha256HexDigits = 64;

// The named fields in the order of the file.
constexpr const char* kPathField = "path=";
constexpr const char* kSerialField = "serial=";
constexpr const char* kExpiresField = "expires=";
constexpr const char* kSha256Field = "sha256=";
constexpr const char* kSignatureField = "signature=";

std::string ToHex(const uint8_t* bytes, size_t length) {
  std::string hex;
  AppendHex(hex, bytes, length, false);
  return hex;
}

bool IsLowerHex(std::string_view text, size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Exactly N bytes from 2N hex digits of either case.
template <size_t N>
bool FromHex(std::string_view hex, std::array<uint8_t, N>& bytes) {
  if (hex.size() != 2 * N) return false;
  for (size_t i = 0; i < N; ++i) {
    const int high = HexDigitValue(hex[2 * i]);
    const int low = HexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool ParseDecimal(std::string_view text, uint64_t& value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Takes the next line of `text` when it starts with `field`; `value` is the
// rest of the line without its "\n".
bool TakeLine(std::string_view& text, std::string_view field, std::string_view& value) {
  const size_t end = text.find('\n');
  if (end == std::string_view::npos || !text.starts_with(field)) return false;
  value = text.substr(field.size(), end - field.size());
  text.remove_prefix(end + 1);
  return true;
}

}  // namespace

std::string FormatSignedPart(const SignedFileRecord& record) {
  return std::string(kSignedFileTag) + "\n" + kPathField + record.path + "\n" + kSerialField +
         std::to_string(record.serial) + "\n" + kExpiresField + FormatUtcTime(record.expires) + "\n" + kSha256Field +
         record.sha256 + "\n";
}

std::string FormatSignedFileRecord(const SignedFileRecord& record) {
  return FormatSignedPart(record) + kSignatureField + record.signature + "\n";
}

bool ParseSignedFileRecord(std::string_view text, SignedFileRecord& record) {
  std::string_view tag, path, serial, expires, sha256, signature;
  if (!TakeLine(text, "", tag) || tag != kSignedFileTag || !TakeLine(text, kPathField, path) ||
      !TakeLine(text, kSerialField, serial) || !TakeLine(text, kExpiresField, expires) ||
      !TakeLine(text, kSha256Field, sha256) || !TakeLine(text, kSignatureField, signature) || !text.empty())
    return false;
  SignedFileRecord parsed;
  if (path.empty() || !ParseDecimal(serial, parsed.serial) || !ParseUtcTime(expires, parsed.expires) ||
      !IsLowerHex(sha256, kSha256HexDigits) || !IsLowerHex(signature, 2 * kSignatureBytes))
    return false;
  parsed.path = path;
  parsed.sha256 = sha256;
  parsed.signature = signature;
  record = std::move(parsed);
  return true;
}

std::string FormatUtcTime(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool ParseUtcTime(std::string_view text, int64_t& seconds) {
  // Fixed width: digits where the pattern has them, the separators as written.
  static constexpr std::string_view kPattern = "0000-00-00T00:00:00Z";
  if (text.size() != kPattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == '0' ? !digit : text[i] != kPattern[i]) return false;
  }
  auto number = [text](size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  tm utc{};
  utc.tm_year = number(0, 4) - 1900;
  utc.tm_mon = number(5, 2) - 1;
  utc.tm_mday = number(8, 2);
  utc.tm_hour = number(11, 2);
  utc.tm_min = number(14, 2);
  utc.tm_sec = number(17, 2);
  const tm given = utc;
  const time_t time = timegm(&utc);
  // timegm normalises out-of-range fields (a 31st of February); such a text is refused.
  if (utc.tm_year != given.tm_year || utc.tm_mon != given.tm_mon || utc.tm_mday != given.tm_mday ||
      utc.tm_hour != given.tm_hour || utc.tm_min != given.tm_min || utc.tm_sec != given.tm_sec)
    return false;
  seconds = static_cast<int64_t>(time);
  return true;
}

bool FileSha256Hex(const std::string& path, std::string& hex) {
  std::string upper;
  if (!GetSha256Checksum().MakeFileHex(path, upper)) return false;
  hex = ToLowerAscii(upper);
  return true;
}

void MakeSigningKeyPair(std::string& privateKeyHex, std::string& publicKeyHex) {
  CryptoPP::AutoSeededRandomPool random;
  std::array<uint8_t, kSigningKeyBytes> seed;
  random.GenerateBlock(seed.data(), seed.size());
  privateKeyHex = ToHex(seed.data(), seed.size());
  // A fresh seed always gives a public key.
  (void)SigningPublicKeyOf(privateKeyHex, publicKeyHex);
}

bool SigningPublicKeyOf(std::string_view privateKeyHex, std::string& publicKeyHex) {
  std::array<uint8_t, kSigningKeyBytes> seed;
  if (!FromHex(privateKeyHex, seed)) return false;
  const CryptoPP::ed25519Signer signer(seed.data());
  const auto& key = static_cast<const CryptoPP::ed25519PrivateKey&>(signer.GetPrivateKey());
  publicKeyHex = ToHex(key.GetPublicKeyBytePtr(), kSigningKeyBytes);
  return true;
}

bool SignFileRecord(std::string_view privateKeyHex, SignedFileRecord& record) {
  std::array<uint8_t, kSigningKeyBytes> seed;
  if (!FromHex(privateKeyHex, seed)) return false;
  const CryptoPP::ed25519Signer signer(seed.data());
  const std::string message = FormatSignedPart(record);
  std::array<uint8_t, kSignatureBytes> signature;
  // Ed25519 signing is deterministic: the generator is not used.
  signer.SignMessage(CryptoPP::NullRNG(), reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                     signature.data());
  record.signature = ToHex(signature.data(), signature.size());
  return true;
}

const char* SignatureCheckName(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::kValid: return "valid";
    case SignatureCheck::kMissing: return "missing";
    case SignatureCheck::kMalformed: return "malformed";
    case SignatureCheck::kSignature: return "signature";
    case SignatureCheck::kPath: return "path";
    case SignatureCheck::kDigest: return "sha256";
    case SignatureCheck::kExpired: return "expired";
    case SignatureCheck::kRollback: return "serial";
  }
  return "unknown";
}

SignatureCheck CheckSignedFile(std::string_view recordText, const std::string& filePath,
                               const SignatureExpectation& expected, SignedFileRecord& record) {
  SignedFileRecord parsed;
  if (!ParseSignedFileRecord(recordText, parsed)) return SignatureCheck::kMalformed;
  std::array<uint8_t, kSigningKeyBytes> publicKey;
  std::array<uint8_t, kSignatureBytes> signature;
  if (!FromHex(expected.publicKeyHex, publicKey) || !FromHex(parsed.signature, signature))
    return SignatureCheck::kSignature;
  const CryptoPP::ed25519Verifier verifier(publicKey.data());
  const std::string message = FormatSignedPart(parsed);
  if (!verifier.VerifyMessage(reinterpret_cast<const uint8_t*>(message.data()), message.size(), signature.data(),
                              signature.size()))
    return SignatureCheck::kSignature;
  if (parsed.path != expected.path) return SignatureCheck::kPath;
  std::string sha256;
  if (!FileSha256Hex(filePath, sha256) || sha256 != parsed.sha256) return SignatureCheck::kDigest;
  if (expected.now >= parsed.expires) return SignatureCheck::kExpired;
  if (parsed.serial < expected.lowestSerial) return SignatureCheck::kRollback;
  record = std::move(parsed);
  return SignatureCheck::kValid;
}
