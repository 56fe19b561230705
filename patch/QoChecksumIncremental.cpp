#include "patch/QoChecksumIncremental.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/SystemPath.h"

namespace {

// Read block of the file forms: large enough to keep system calls rare, small
// enough to stay in the processor's caches between the read and the hashing.
constexpr size_t kReadBlock = 256 * 1024;

using DigestBytes = std::array<uint8_t, QoChecksumIncremental::kMaxDigestSize>;

// Closes the descriptor at the end of the scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool QoChecksumIncremental::MakeBufferDigest(const void* data, size_t length, uint8_t* digest) const {
  if (data == nullptr || length == 0 || digest == nullptr) return false;
  auto state = NewState();
  state->Update(static_cast<const uint8_t*>(data), length);
  state->Final(digest);
  return true;
}

bool QoChecksumIncremental::MakeBufferHex(const void* data, size_t length, std::string& out) const {
  DigestBytes digest;
  if (!MakeBufferDigest(data, length, digest.data())) return false;
  AppendHex(digest.data(), DigestSize(), true, out);
  return true;
}

bool QoChecksumIncremental::MakeStringDigest(const std::string& text, uint8_t* digest) const {
  return MakeBufferDigest(text.data(), text.size(), digest);
}

bool QoChecksumIncremental::MakeStringHex(const std::string& text, std::string& out) const {
  return MakeBufferHex(text.data(), text.size(), out);
}

bool QoChecksumIncremental::MakeFileDigest(const std::string& path, uint8_t* digest) const {
  if (digest == nullptr) return false;
  DigestBytes result;
  if (!DigestFile(path, result.data())) return false;
  std::copy_n(result.begin(), DigestSize(), digest);
  return true;
}

bool QoChecksumIncremental::MakeFileHex(const std::string& path, std::string& out) const {
  DigestBytes digest;
  if (!DigestFile(path, digest.data())) return false;
  AppendHex(digest.data(), DigestSize(), true, out);
  return true;
}

void QoChecksumIncremental::AppendHex(const uint8_t* bytes, size_t length, bool upperCase, std::string& out) {
  CryptoPP::StringSource(bytes, length, true,
                         new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), upperCase));
}

bool QoChecksumIncremental::DigestFile(const std::string& path, uint8_t* digest) const {
  if (path.empty()) return false;
  FileDescriptor file(open(ToSystemPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return false;
  struct stat info;
  if (fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  // A small file needs no more buffer than its own size; the loop still reads
  // to the end in case the file grew meanwhile.
  size_t blockSize = kReadBlock;
  if (S_ISREG(info.st_mode) && info.st_size >= 0 && static_cast<uint64_t>(info.st_size) < kReadBlock)
    blockSize = static_cast<size_t>(info.st_size) + 1;
  std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize]);

  auto state = NewState();
  for (;;) {
    ssize_t got = read(file.get(), block.get(), blockSize);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    state->Update(block.get(), static_cast<size_t>(got));
  }
  state->Final(digest);
  return true;
}
