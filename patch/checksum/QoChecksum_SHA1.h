// SHA-1: 20-byte raw digest, 40 hex digits, upper case except from
// MakeStringHex, which gives lower case. GetType is 3.
#pragma once

#include "patch/checksum/QoChecksumIncremental.h"

class QoChecksum_SHA1 final : public QoChecksumIncremental {
 public:
  static constexpr size_t kDigestSize = 20;

  int GetType() const override { return 3; }
  // Appends the lower-case hex digest of the text's bytes. False when the
  // text is empty.
  bool MakeStringHex(const std::string& text, std::string& out) const override;

 protected:
  std::unique_ptr<State> NewState() const override;
  size_t DigestSize() const override { return kDigestSize; }
};
