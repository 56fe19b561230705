// The six Make operations of QoChecksum, written once for every digest class
// over an incremental hash state that the class provides. Each call builds its
// own state, so an object holds nothing between calls and may be used from any
// thread. Outputs are written only on success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "patch/checksum/QoChecksum.h"

class QoChecksumIncremental : public QoChecksum {
 public:
  bool MakeBufferDigest(const void* data, size_t length, uint8_t* digest) const override;
  bool MakeBufferHex(const void* data, size_t length, std::string& out) const override;
  bool MakeStringDigest(const std::string& text, uint8_t* digest) const override;
  bool MakeStringHex(const std::string& text, std::string& out) const override;
  // Files are read in binary mode, block by block (never whole into memory).
  // False also when the path names a folder or anything else that is not a
  // regular file, or when the file cannot be opened or read to its end.
  bool MakeFileDigest(const std::string& path, uint8_t* digest) const override;
  bool MakeFileHex(const std::string& path, std::string& out) const override;

  // One digest computation: bytes in, raw digest out.
  class State {
   public:
    virtual ~State() = default;
    virtual void Update(const uint8_t* data, size_t length) = 0;
    // Writes DigestSize() bytes.
    virtual void Final(uint8_t* digest) = 0;
  };

 protected:
  virtual std::unique_ptr<State> NewState() const = 0;
  // Raw digest size in bytes, at most kLargestDigestSize.
  virtual size_t DigestSize() const = 0;

 private:
  // Digest of the file's bytes; false when it cannot be read to its end.
  bool DigestFile(const std::string& path, uint8_t* digest) const;
};
