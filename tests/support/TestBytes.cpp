#include "tests/support/TestBytes.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/crc.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/md5.h>

#include <random>

namespace testsupport {

namespace {

template <typename Digest>
std::string DigestText(const std::string& bytes) {
  Digest digest;
  std::string text;
  // The source owns and runs the chain of filters.
  CryptoPP::StringSource source(
      bytes, true, new CryptoPP::HashFilter(digest, new CryptoPP::HexEncoder(new CryptoPP::StringSink(text))));
  return text;
}

}  // namespace

std::string RandomBytes(size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(length, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string Md5Of(const std::string& bytes) { return DigestText<CryptoPP::Weak::MD5>(bytes); }

std::string CrcOf(const std::string& bytes) { return DigestText<CryptoPP::CRC32>(bytes); }

}  // namespace testsupport
