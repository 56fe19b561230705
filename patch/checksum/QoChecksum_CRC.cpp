#include "patch/checksum/QoChecksum_CRC.h"

#include <libdeflate.h>

namespace {

class CrcState final : public QoChecksumIncremental::State {
 public:
  void Update(const uint8_t* data, size_t length) override { crc_ = libdeflate_crc32(crc_, data, length); }
  void Final(uint8_t* digest) override {
    for (size_t i = 0; i < QoChecksum_CRC::kDigestSize; ++i) digest[i] = static_cast<uint8_t>(crc_ >> (8 * i));
  }

 private:
  uint32_t crc_ = 0;  // libdeflate applies the initial and final inversion itself
};

}  // namespace

std::unique_ptr<QoChecksumIncremental::State> QoChecksum_CRC::NewState() const { return std::make_unique<CrcState>(); }
