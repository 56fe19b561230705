#include "patch/ProtectedFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "patch/checksum/QoChecksum.h"
#include "platform/SystemPath.h"
#include "util/FileUtil.h"
#include "util/LaunchLog.h"

namespace {

constexpr char kMagic[] = "SEPCIAL_FILE_HD";  // compared with its terminating 0x00
constexpr size_t kCrcTextLength = 8;
constexpr size_t kReadChunk = 1 << 16;

void Scramble(uint8_t* bytes, size_t length, size_t fileOffset, const ProtectionKey& key) {
  for (size_t i = 0; i < length; ++i) bytes[i] ^= key[(fileOffset + i) & 0x7F];
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// Reads the whole file when it is smaller than `limit`. False when it cannot
// be opened or read, or holds `limit` bytes or more. The buffer grows with
// what the file holds rather than being sized for the limit.
bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(ToSystemPath(path).c_str(), "rb"));
  if (!file) return false;
  struct stat info {};
  size_t expected = 0;
  if (fstat(fileno(file.get()), &info) == 0 && info.st_size > 0)
    expected = std::min(static_cast<size_t>(info.st_size), limit);

  data.assign(expected, 0);
  size_t count = 0;
  for (;;) {
    if (count == data.size()) {
      if (count >= limit) break;
      data.resize(std::min(limit, std::max(count + kReadChunk, expected)));
    }
    size_t got = std::fread(data.data() + count, 1, data.size() - count, file.get());
    count += got;
    if (got == 0) break;
  }
  if (std::ferror(file.get())) return false;
  data.resize(count);
  return count < limit;
}

// The header's CRC text as it is logged: from offset 24 to the first 0x00 or
// the end of the header.
std::string HeaderCrcText(const ProtectedHeader& header) {
  auto begin = header.begin() + kProtectedCrcOffset;
  return std::string(begin, std::find(begin, header.end(), uint8_t{0}));
}

}  // namespace

void BuildProtectionKey(ProtectionKey& key, uint32_t seed) {
  uint32_t state = seed;
  for (uint8_t& byte : key) {
    state = state * 214013u + 2531011u;
    byte = static_cast<uint8_t>(((state >> 16) & 0x7FFF) % 255);
  }
}

bool ReadProtectedHeader(std::span<const uint8_t> data, const ProtectionKey& key, ProtectedHeader* headerOut) {
  if (data.size() < kProtectedHeaderSize) return false;
  ProtectedHeader header;
  std::copy_n(data.begin(), kProtectedHeaderSize, header.begin());
  Scramble(header.data(), header.size(), 0, key);
  if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0) return false;
  if (headerOut != nullptr) *headerOut = header;
  return true;
}

bool UnprotectFile(const ProtectionKey& key, const std::string& path) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, PROTECTED_FILE_MAX, data)) return false;

  ProtectedHeader header;
  if (!ReadProtectedHeader(data, key, &header)) return true;  // plain already

  // The body is deciphered in place: one buffer of the file's size.
  size_t bodyLength = data.size() - kProtectedHeaderSize;
  uint8_t* body = data.data() + kProtectedHeaderSize;
  Scramble(body, bodyLength, kProtectedHeaderSize, key);
  if (!RewriteFile(path, body, bodyLength)) return false;

  std::string crc;
  if (!GetCrcChecksum().MakeFileHex(path, crc)) return false;
  if (crc.size() < kCrcTextLength ||
      std::memcmp(crc.data(), header.data() + kProtectedCrcOffset, kCrcTextLength) != 0) {
    WriteLaunchLog("memcmp Error strCrc = %s cryptHead =%s", crc.c_str(), HeaderCrcText(header).c_str());
    return false;
  }
  return true;
}

std::string ProtectBuffer(const ProtectionKey& key, std::string_view plain) {
  std::string crc;
  if (!GetCrcChecksum().MakeBufferHex(plain.data(), plain.size(), crc)) crc = "00000000";  // the CRC-32 of no bytes

  std::string out(kProtectedHeaderSize, '\0');
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  out.replace(kProtectedCrcOffset, kCrcTextLength, crc, 0, kCrcTextLength);
  out.append(plain);
  Scramble(reinterpret_cast<uint8_t*>(out.data()), out.size(), 0, key);
  return out;
}

bool ProtectFile(const ProtectionKey& key, const std::string& path) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(path, PROTECTED_FILE_MAX - kProtectedHeaderSize, data)) return false;
  std::string protectedForm =
      ProtectBuffer(key, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  return RewriteFile(path, protectedForm.data(), protectedForm.size());
}
