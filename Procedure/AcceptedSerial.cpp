#include "Procedure/AcceptedSerial.h"

#include <unistd.h>

#include <charconv>
#include <mutex>

#include "util/FileTransfer.h"
#include "util/FileUtil.h"

namespace {

std::mutex& SerialMutex() {
  static std::mutex mutex;
  return mutex;
}

// A serial is far shorter than this.
constexpr uint64_t kSerialFileMaxBytes = 64;

uint64_t ReadUnlocked(const std::string& path) {
  std::string text;
  if (!ReadSmallFile(path, kSerialFileMaxBytes, text)) return 0;
  text = text.substr(0, text.find('\n'));
  uint64_t serial = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), serial);
  return error == std::errc() && end == text.data() + text.size() ? serial : 0;
}

}  // namespace

uint64_t ReadAcceptedSerial(const std::string& path) {
  std::lock_guard<std::mutex> lock(SerialMutex());
  return ReadUnlocked(path);
}

bool RaiseAcceptedSerial(uint64_t serial, const std::string& path) {
  std::lock_guard<std::mutex> lock(SerialMutex());
  if (serial <= ReadUnlocked(path)) return true;
  const std::string text = std::to_string(serial) + "\n";
  FileReplacement replacement(path, 0644);
  return replacement.valid() && WriteFileBytes(replacement.fd(), text.data(), text.size()) &&
         ::fsync(replacement.fd()) == 0 && replacement.Commit();
}
