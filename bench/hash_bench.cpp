// Hashes one file with MakeFileHex and prints "<hex> <seconds>" (the time of
// the call alone). bench/hash.sh runs it against md5sum and a plain read.
//
//   hash_bench crc|md5|sha1 FILE
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "patch/checksum/QoChecksum.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s crc|md5|sha1 FILE\n", argv[0]);
    return 2;
  }
  const QoChecksum* sum = nullptr;
  if (std::strcmp(argv[1], "crc") == 0) sum = &GetCrcChecksum();
  if (std::strcmp(argv[1], "md5") == 0) sum = &GetMd5Checksum();
  if (std::strcmp(argv[1], "sha1") == 0) sum = &GetSha1Checksum();
  if (sum == nullptr) {
    std::fprintf(stderr, "unknown algorithm %s\n", argv[1]);
    return 2;
  }
  std::string hex;
  auto start = std::chrono::steady_clock::now();
  bool ok = sum->MakeFileHex(argv[2], hex);
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!ok) {
    std::fprintf(stderr, "cannot hash %s\n", argv[2]);
    return 1;
  }
  std::printf("%s %.3f\n", hex.c_str(), elapsed.count());
  return 0;
}
