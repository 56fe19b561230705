// Where the device identity's machine facts come from. The system sources
// read the kernel's views of the machine below a root folder ("" for the real
// root), so tests can lay out their own "sys", "run" and "proc" trees; each
// source fails quietly with an empty text. All of them may run on any thread.
#pragma once

#include <functional>
#include <string>

struct DeviceSources {
  std::function<std::string()> networkAddressText;  // "XX-XX-XX-XX-XX-XX" or ""
  std::function<std::string()> diskSerialText;      // cleaned serial or ""
  std::function<std::string()> guidText;            // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" or ""
};

// The three system sources below `root`.
DeviceSources SystemDeviceSources(const std::string& root = "");

// The hardware address of the first network adapter that has one, upper-case
// hex pairs joined by "-". Adapters are read from "<root>/sys/class/net";
// loopback adapters and all-zero addresses are skipped; adapters backed by a
// device (a "device" entry) come before virtual ones, each group in interface
// index order, so a virtual adapter made at boot does not change the result.
std::string GetNetworkAddressText(const std::string& root = "");

// The serial number of the first fixed disk that reports one, cleaned with
// TrimToAlnum and cut to 1023 characters. Disks are the entries of
// "<root>/sys/block" with a "device" entry that are not removable, in name
// order, at most 16. For each disk the serial is taken from the first of
// "device/serial", "serial", the SCSI unit serial page "device/vpd_pg80" and
// udev's "ID_SERIAL_SHORT" in "<root>/run/udev/data/b<major>:<minor>" whose
// cleaned text is not empty.
std::string GetDiskSerialText(const std::string& root = "");

// A new random GUID in lower case from "<root>/proc/sys/kernel/random/uuid";
// empty when that cannot be read or is not in the GUID form.
std::string MakeGuidText(const std::string& root = "");
