#include "telemetry/DeviceIdentity.h"

#include <mutex>
#include <optional>

#include "patch/checksum/QoChecksum.h"
#include "util/Encoding.h"

namespace {

constexpr const char* kDeviceIdPrefix = "ZARIRER";
constexpr char kSeparator = '\x02';
constexpr size_t kValueCapacity = 256;  // bytes a value may take to be read
constexpr size_t kMaxAddressLength = 17;
constexpr size_t kMaxSerialLength = 1023;

std::u16string ReadValueText(const RegistryStore& store, const char* name) {
  std::optional<RegistryValue> value = store.Query(kDeviceRegistryKey, name);
  if (!value) return {};
  if (value->type == RegistryType::Binary) {
    if (value->data.size() > kValueCapacity) return {};
    return Utf8ToWide(value->data);  // ends at the first zero byte
  }
  std::u16string text = Utf8ToWide(value->data);
  // A text value's size counts its UTF-16 units and the terminator.
  if ((text.size() + 1) * sizeof(char16_t) > kValueCapacity) return {};
  return text;
}

// Two first calls in one process must not each make and store an id.
std::mutex& DeviceIdMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: reports may outlive main
  return *mutex;
}

}  // namespace

std::u16string GetDeviceId(const DeviceSources& sources, RegistryStore store) {
  std::lock_guard<std::mutex> lock(DeviceIdMutex());
  std::u16string id = ReadValueText(store, kDeviceIdValueName);
  if (!id.empty()) return id;
  id = MakeDeviceId(sources);
  // Added only when the store holds no id: one that a failing read missed
  // above stays and is used; a stored value that is no usable id is
  // replaced. A failed store is not reported: the id serves this call, the
  // next builds another.
  if (store.AddBinary(kDeviceRegistryKey, kDeviceIdValueName, WideToUtf8(id))) return id;
  const std::u16string stored = ReadValueText(store, kDeviceIdValueName);
  if (!stored.empty()) return stored;
  static_cast<void>(store.WriteBinary(kDeviceRegistryKey, kDeviceIdValueName, WideToUtf8(id)));
  return id;
}

std::u16string GetGclidField(const RegistryStore& store) {
  std::u16string code = ReadValueText(store, kReferralValueName);
  if (code.empty()) return {};
  return u"gclid" + std::u16string(1, kSeparator) + code;
}

std::u16string MakeDeviceId(const DeviceSources& sources) {
  std::string hash = GetHardwareHash(sources);
  std::string guid = sources.guidText ? sources.guidText() : std::string();
  return Utf8ToWide(kDeviceIdPrefix + std::string(1, kSeparator) + hash + std::string(1, kSeparator) + guid);
}

std::string GetHardwareHash(const DeviceSources& sources) {
  std::string address = sources.networkAddressText ? sources.networkAddressText() : std::string();
  std::string serial = sources.diskSerialText ? sources.diskSerialText() : std::string();
  std::string hash;
  // An empty text has no digest: the hash stays empty.
  GetSha1Checksum().MakeStringHex(address.substr(0, kMaxAddressLength) + serial.substr(0, kMaxSerialLength), hash);
  return hash;
}
