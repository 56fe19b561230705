// MD5: 16-byte raw digest, 32 upper-case hex digits. GetType is 3.
#pragma once

#include "patch/checksum/QoChecksumIncremental.h"

class QoChecksum_MD5 final : public QoChecksumIncremental {
 public:
  static constexpr size_t kDigestSize = 16;

  int GetType() const override { return 3; }

 protected:
  std::unique_ptr<State> NewState() const override;
  size_t DigestSize() const override { return kDigestSize; }
};
