#pragma once

#include <cstddef>
#include <cstdint>

#include "patch/checksum/QoChecksumIncremental.h"

// The running state of any Crypto++ hash transformation (Update and Final).
template <class Hash>
class HashState final : public QoChecksumIncremental::State {
 public:
  void Update(const uint8_t* data, size_t length) override { hash_.Update(data, length); }
  void Final(uint8_t* digest) override { hash_.Final(digest); }

 private:
  Hash hash_;
};
