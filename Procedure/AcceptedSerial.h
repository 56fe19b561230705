// The highest release serial of signed server files this launcher folder has
// accepted, kept in a small file so that an older publication served later
// (a rollback) is refused, also after a restart or a self-update. Any
// thread; the read and the raise are serialised within the process.
#pragma once

#include <cstdint>
#include <string>

// The file in the launcher's folder (decimal text).
inline constexpr const char* kAcceptedSerialPath = ".\\SignedSerial";

// The serial kept at `path`; 0 when there is none or it cannot be read.
uint64_t ReadAcceptedSerial(const std::string& path = kAcceptedSerialPath);

// Keeps `serial` at `path` when it is higher than the one kept there. The
// file is replaced through a temporary file flushed to the disk, so it holds
// the old or the new serial after a crash. False when it could not be written.
[[nodiscard]] bool RaiseAcceptedSerial(uint64_t serial, const std::string& path = kAcceptedSerialPath);
