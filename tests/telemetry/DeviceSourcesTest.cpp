#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "telemetry/DeviceSources.h"
#include "tests/support/TempDir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

void Lay(const TempDir& root, const Files& files) {
  for (const auto& [path, content] : files) {
    if (path.back() == '/')
      std::filesystem::create_directories(root.path() / path);
    else
      WriteFile(root.path() / path, content);
  }
}

// The files of one network adapter below sys/class/net.
Files Adapter(const std::string& name, int type, int ifindex, const std::string& address, bool backedByDevice) {
  std::string dir = "sys/class/net/" + name + "/";
  Files files = {{dir + "type", std::to_string(type) + "\n"},
                 {dir + "ifindex", std::to_string(ifindex) + "\n"},
                 {dir + "address", address + "\n"}};
  if (backedByDevice) files.push_back({dir + "device/", ""});
  return files;
}

Files Join(std::initializer_list<Files> parts) {
  Files all;
  for (const Files& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace

TEST(DeviceSources, NetworkAddressIsTheFirstRealAdaptersHardwareAddress) {
  const Files loopback = Adapter("lo", 772, 1, "00:00:00:00:00:00", false);
  struct Case {
    const char* what;
    Files files;
    std::string expected;
  } cases[] = {
      {"nothing", {}, ""},
      {"loopback only", loopback, ""},
      {"one adapter, upper case with dashes", Join({loopback, Adapter("eth0", 1, 2, "02:fc:0a:0b:00:01", true)}),
       "02-FC-0A-0B-00-01"},
      {"a device-backed adapter before a virtual one made earlier",
       Join({loopback, Adapter("ifb0", 1, 2, "de:7a:e5:f7:22:c3", false),
             Adapter("eth0", 1, 4, "02:fc:00:00:00:01", true)}),
       "02-FC-00-00-00-01"},
      {"interface index order, not name order",
       Join({Adapter("veth1", 1, 5, "aa:00:00:00:00:05", false), Adapter("docker0", 1, 3, "aa:00:00:00:00:03", false)}),
       "AA-00-00-00-00-03"},
      {"loopback type under another name",
       Join({Adapter("a", 772, 1, "00:00:00:00:00:01", false), Adapter("b", 1, 2, "00:00:00:00:00:02", false)}),
       "00-00-00-00-00-02"},
      {"zero and malformed addresses are skipped",
       Join({Adapter("eth0", 1, 2, "00:00:00:00:00:00", true), Adapter("eth1", 1, 3, "02:fc:00:00:00", true),
             Adapter("eth2", 1, 4, "zz:fc:00:00:00:01", true), Adapter("eth3", 1, 5, "02-fc-00-00-00-01", true),
             Adapter("tun0", 65534, 6, "", false), Adapter("wlan0", 1, 7, "f0:de:f1:00:00:07", false)}),
       "F0-DE-F1-00-00-07"},
  };
  for (const Case& c : cases) {
    TempDir root;
    Lay(root, c.files);
    EXPECT_EQ(GetNetworkAddressText(root.str()), c.expected) << c.what;
  }
}

TEST(DeviceSources, DiskSerialIsTheFirstFixedDisksCleanedSerial) {
  const std::string vpd = std::string("\0\x80\0\x10", 4) + "    WD-WCC4N1234";
  struct Case {
    const char* what;
    Files files;
    std::string expected;
  } cases[] = {
      {"nothing", {}, ""},
      {"virtio serial without its line break",
       {{"sys/block/vda/device/", ""}, {"sys/block/vda/serial", "overlayblk0\n"}},
       "overlayblk0"},
      {"name order; device serial first",
       {{"sys/block/sda/device/vpd_pg80", vpd},
        {"sys/block/nvme0n1/device/serial", "S4EWNX0N123456\n"},
        {"sys/block/nvme0n1/serial", "other\n"}},
       "S4EWNX0N123456"},
      {"loop devices and removable disks are not fixed disks",
       {{"sys/block/loop0/serial", "LOOP\n"},
        {"sys/block/sda/device/serial", "USBSTICK\n"},
        {"sys/block/sda/removable", "1\n"},
        {"sys/block/sdb/device/vpd_pg80", vpd},
        {"sys/block/sdb/removable", "0\n"}},
       "WD-WCC4N1234"},
      {"udev data when sysfs has only blanks",
       {{"sys/block/sda/device/serial", "   \n"},
        {"sys/block/sda/dev", "8:0\n"},
        {"run/udev/data/b8:0", "S:disk/by-id/x\nE:ID_SERIAL=Maker_Model_ S123 \nE:ID_SERIAL_SHORT= S123 \n"}},
       "S123"},
      {"a disk without a serial is passed over",
       {{"sys/block/sda/device/", ""}, {"sys/block/sda/dev", "8:0\n"}, {"sys/block/sdb/device/serial", "SECOND\n"}},
       "SECOND"},
      {"a short or foreign VPD page is not read",
       {{"sys/block/sda/device/vpd_pg80", std::string("\0\x83\0\x04", 4) + "ABCD"},
        {"sys/block/sdb/device/vpd_pg80", std::string("\0\x80", 2)}},
       ""},
      {"a long serial is cut to 1023 characters",
       {{"sys/block/sda/device/serial", std::string(2000, 'S')}},
       std::string(1023, 'S')},
  };
  for (const Case& c : cases) {
    TempDir root;
    Lay(root, c.files);
    EXPECT_EQ(GetDiskSerialText(root.str()), c.expected) << c.what;
  }
}

TEST(DeviceSources, GuidIsTheKernelsRandomUuidInLowerCase) {
  struct Case {
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {"3F2504E0-4F89-11D3-9A0C-0305E82C3301\n", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"},
      {"3f2504e0-4f89-11d3-9a0c-0305e82c3301", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"},
      {"3f2504e0x4f89-11d3-9a0c-0305e82c3301\n", ""},
      {"3f2504e0-4f89-11d3-9a0c-0305e82c330g\n", ""},
      {"3f2504e0-4f89-11d3-9a0c-0305e82c33\n", ""},
      {std::nullopt, ""},
  };
  for (const Case& c : cases) {
    TempDir root;
    if (c.file) WriteFile(root.path() / "proc/sys/kernel/random/uuid", *c.file);
    EXPECT_EQ(MakeGuidText(root.str()), c.expected) << c.file.value_or("<missing>");
  }
  // The real source gives a new GUID each time.
  std::string first = MakeGuidText();
  EXPECT_EQ(first.size(), 36u);
  EXPECT_NE(first, MakeGuidText());
}
