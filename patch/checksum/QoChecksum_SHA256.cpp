#include "patch/checksum/QoChecksum_SHA256.h"

#include <cryptopp/sha.h>

#include "patch/checksum/HashState.h"

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_SHA256::NewState() const {
  return std::make_unique<HashState<CryptoPP::SHA256>>();
}
