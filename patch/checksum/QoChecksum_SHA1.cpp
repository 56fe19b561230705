#include "patch/checksum/QoChecksum_SHA1.h"

#include <cryptopp/sha.h>

namespace {

class Sha1State final : public QoChecksumIncremental::State {
 public:
  void Update(const uint8_t* data, size_t length) override { sha1_.Update(data, length); }
  void Final(uint8_t* digest) override { sha1_.Final(digest); }

 private:
  CryptoPP::SHA1 sha1_;
};

}  // namespace

bool QoChecksum_SHA1::MakeStringHex(const std::string& text, std::string& out) const {
  uint8_t digest[kDigestSize];
  if (!MakeStringDigest(text, digest)) return false;
  AppendHex(digest, kDigestSize, false, out);
  return true;
}

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_SHA1::NewState() const {
  return std::make_unique<Sha1State>();
}
