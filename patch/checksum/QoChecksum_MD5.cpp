#include "patch/checksum/QoChecksum_MD5.h"

// MD5 lives in Crypto++'s namespace of weak algorithms; the library's build
// defines CRYPTOPP_ENABLE_NAMESPACE_WEAK to reach it.
#include <cryptopp/md5.h>

namespace {

class Md5State final : public QoChecksumIncremental::State {
 public:
  void Update(const uint8_t* data, size_t length) override { md5_.Update(data, length); }
  void Final(uint8_t* digest) override { md5_.Final(digest); }

 private:
  CryptoPP::Weak1::MD5 md5_;
};

}  // namespace

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_MD5::NewState() const { return std::make_unique<Md5State>(); }
