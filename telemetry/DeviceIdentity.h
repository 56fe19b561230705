// The device identity that every analytics record carries: an id made once
// from a hash of the machine's network address and disk serial plus a fresh
// GUID, then kept in the current user's registry store and read back on every
// later call; and the referral field that another program may store there.
//
// Registry key "SOFTWARE\fernway\meadow_jp" of the current user's store:
//   "deviceid_h1602965840"  binary, the id's UTF-8 bytes (written here)
//   "gclidshort"            referral code (only read)
// A value reads as text as follows: a binary value's bytes up to the first
// zero byte, a text value as it is; a missing value, a binary value longer
// than 256 bytes or a text longer than 127 UTF-16 units reads as empty.
//
// Any thread may call these functions. Registry failures are not reported.
#pragma once

#include <string>

#include "platform/RegistryStore.h"
#include "telemetry/DeviceSources.h"

inline constexpr const char* kDeviceRegistryKey = "SOFTWARE\\fernway\\meadow_jp";
inline constexpr const char* kDeviceIdValueName = "deviceid_h1602965840";
inline constexpr const char* kReferralValueName = "gclidshort";

// The stored device id when it reads as non-empty (returned unchanged,
// whatever its type; no source is asked). Otherwise a new id from
// MakeDeviceId, stored as binary and returned; it is returned even when it
// cannot be stored. Calls in one process are serialised, so two first calls
// return the same id.
std::u16string GetDeviceId(const DeviceSources& sources = SystemDeviceSources(), RegistryStore store = RegistryStore());

// "gclid", 0x02 and the stored referral code; empty when the code reads as
// empty.
std::u16string GetGclidField(const RegistryStore& store = RegistryStore());

// "ZARIRER", 0x02, GetHardwareHash, 0x02, the GUID text (85 characters when
// both parts are present; the parts may be empty).
std::u16string MakeDeviceId(const DeviceSources& sources);

// The lower-case SHA-1 hex of the network address text (at most 17
// characters) followed by the disk serial text (at most 1023); empty when
// both are empty.
std::string GetHardwareHash(const DeviceSources& sources);
