// CRC-32 of IEEE 802.3. The raw digest is the 32-bit result least significant
// byte first, and the hex text spells those bytes in that order: the CRC text
// of "123456789" is "2639F4CB". GetType is 1.
#pragma once

#include "patch/checksum/QoChecksumIncremental.h"

class QoChecksum_CRC final : public QoChecksumIncremental {
 public:
  static constexpr size_t kDigestSize = 4;

  int GetType() const override { return 1; }

 protected:
  std::unique_ptr<State> NewState() const override;
  size_t DigestSize() const override { return kDigestSize; }
};
