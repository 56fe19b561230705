#include "patch/checksum/QoChecksum_SHA1.h"

#include <cryptopp/sha.h>

#include "patch/checksum/HashState.h"
#include "platform/AsciiText.h"

bool QoChecksum_SHA1::MakeStringHex(const std::string& text, std::string& out) const {
  uint8_t digest[kDigestSize];
  if (!MakeStringDigest(text, digest)) return false;
  AppendHex(out, digest, kDigestSize, false);
  return true;
}

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_SHA1::NewState() const {
  return std::make_unique<HashState<CryptoPP::SHA1>>();
}
