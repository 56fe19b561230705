#include "telemetry/DeviceSources.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>
#include <vector>

#include "telemetry/SerialText.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK
constexpr size_t kAddressLength = 17;
constexpr size_t kMaxDisks = 16;
constexpr size_t kMaxSerialLength = 1023;
constexpr size_t kMaxAttributeBytes = 4096;
constexpr unsigned char kUnitSerialPage = 0x80;
constexpr size_t kGuidLength = 36;

fs::path Below(const std::string& root, const char* path) { return fs::path(root.empty() ? "/" : root) / path; }

std::optional<std::string> ReadAttribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kMaxAttributeBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// A text attribute without the line break the kernel ends it with.
std::string ReadTextAttribute(const fs::path& path) {
  std::string text = ReadAttribute(path).value_or("");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

int ReadIntAttribute(const fs::path& path, int fallback) {
  std::string text = ReadTextAttribute(path);
  if (text.empty()) return fallback;
  try {
    return std::stoi(text);
  } catch (const std::exception&) {
    return fallback;
  }
}

std::vector<fs::path> SortedEntries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

// "aa:bb:cc:dd:ee:ff" as "AA-BB-CC-DD-EE-FF"; empty when it is not a six-byte
// address or is all zero.
std::string FormatHardwareAddress(const std::string& address) {
  if (address.size() != kAddressLength) return {};
  std::string out;
  bool allZero = true;
  for (size_t i = 0; i < address.size(); ++i) {
    char c = address[i];
    if (i % 3 == 2) {
      if (c != ':') return {};
      out += '-';
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    if (c != '0') allZero = false;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return allZero ? std::string() : out;
}

// The unit serial number from a SCSI VPD page 0x80: a 4-byte header whose
// bytes 2 and 3 give the length of the serial that follows.
std::string UnitSerialFromPage(const std::string& page) {
  if (page.size() < 4 || static_cast<unsigned char>(page[1]) != kUnitSerialPage) return {};
  size_t length = static_cast<size_t>(static_cast<unsigned char>(page[2])) << 8 | static_cast<unsigned char>(page[3]);
  return page.substr(4, length);
}

std::string UdevSerial(const std::string& root, const fs::path& disk) {
  std::string device = ReadTextAttribute(disk / "dev");
  if (device.empty()) return {};
  std::ifstream in(Below(root, "run/udev/data") / ("b" + device));
  static constexpr std::string_view kKey = "E:ID_SERIAL_SHORT=";
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, kKey.size(), kKey) == 0) return line.substr(kKey.size());
  }
  return {};
}

std::string DiskSerial(const std::string& root, const fs::path& disk) {
  std::string candidates[] = {
      ReadTextAttribute(disk / "device" / "serial"),
      ReadTextAttribute(disk / "serial"),
      UnitSerialFromPage(ReadAttribute(disk / "device" / "vpd_pg80").value_or("")),
      UdevSerial(root, disk),
  };
  for (const std::string& candidate : candidates) {
    std::string serial = TrimToAlnum(candidate);
    if (!serial.empty()) return serial.substr(0, kMaxSerialLength);
  }
  return {};
}

}  // namespace

DeviceSources SystemDeviceSources(const std::string& root) {
  return DeviceSources{
      [root] { return GetNetworkAddressText(root); },
      [root] { return GetDiskSerialText(root); },
      [root] { return MakeGuidText(root); },
  };
}

std::string GetNetworkAddressText(const std::string& root) {
  std::string best;
  std::tuple<bool, int> bestRank{true, INT_MAX};
  for (const fs::path& adapter : SortedEntries(Below(root, "sys/class/net"))) {
    if (ReadIntAttribute(adapter / "type", 0) == kLoopbackType) continue;
    std::string address = FormatHardwareAddress(ReadTextAttribute(adapter / "address"));
    if (address.empty()) continue;
    std::error_code ec;
    std::tuple<bool, int> rank{!fs::exists(adapter / "device", ec), ReadIntAttribute(adapter / "ifindex", INT_MAX)};
    if (best.empty() || rank < bestRank) {
      best = address;
      bestRank = rank;
    }
  }
  return best;
}

std::string GetDiskSerialText(const std::string& root) {
  size_t disks = 0;
  for (const fs::path& disk : SortedEntries(Below(root, "sys/block"))) {
    std::error_code ec;
    if (!fs::exists(disk / "device", ec) || ReadIntAttribute(disk / "removable", 0) != 0) continue;
    if (disks++ == kMaxDisks) break;
    std::string serial = DiskSerial(root, disk);
    if (!serial.empty()) return serial;
  }
  return {};
}

std::string MakeGuidText(const std::string& root) {
  std::string text = ReadTextAttribute(Below(root, "proc/sys/kernel/random/uuid"));
  if (text.size() != kGuidLength) return {};
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !std::isxdigit(c)) return {};
    text[i] = static_cast<char>(std::tolower(c));
  }
  return text;
}
