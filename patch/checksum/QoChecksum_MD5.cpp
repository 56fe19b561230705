#include "patch/checksum/QoChecksum_MD5.h"

// MD5 lives in Crypto++'s namespace of weak algorithms; the library's build
// defines CRYPTOPP_ENABLE_NAMESPACE_WEAK to reach it.
#include <cryptopp/md5.h>

#include "patch/checksum/HashState.h"

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_MD5::NewState() const {
  return std::make_unique<HashState<CryptoPP::Weak1::MD5>>();
}
