#include "patch/checksum/QoChecksum.h"

#include "patch/checksum/QoChecksum_CRC.h"
#include "patch/checksum/QoChecksum_MD5.h"
#include "patch/checksum/QoChecksum_SHA1.h"
#include "patch/checksum/QoChecksum_SHA256.h"

// Each instance is made by the first caller (static initialisation is
// thread-safe) and deliberately never deleted, so threads still running at
// process end can keep using it.
const QoChecksum& GetCrcChecksum() {
  static const QoChecksum* const instance = new QoChecksum_CRC;
  return *instance;
}

const QoChecksum& GetMd5Checksum() {
  static const QoChecksum* const instance = new QoChecksum_MD5;
  return *instance;
}

const QoChecksum& GetSha1Checksum() {
  static const QoChecksum* const instance = new QoChecksum_SHA1;
  return *instance;
}

const QoChecksum& GetSha256Checksum() {
  static const QoChecksum* const instance = new QoChecksum_SHA256;
  return *instance;
}
