// SHA-256: 32-byte raw digest, 64 upper-case hex digits. GetType is 3. The
// signature files of signed server trees name their files by it.
#pragma once

#include "patch/checksum/QoChecksumIncremental.h"

class QoChecksum_SHA256 final : public QoChecksumIncremental {
 public:
  static constexpr size_t kDigestSize = 32;

  int GetType() const override { return 3; }

 protected:
  std::unique_ptr<State> NewState() const override;
  size_t DigestSize() const override { return kDigestSize; }
};
