// The small version file that names the server's current version, as the
// repair and the install download it. Any thread.
#pragma once

#include <string>

// Reads the file at `path` (launcher "\" form). The version is the text up to
// the first zero byte with every space, tab, carriage return and line feed
// removed; it may be empty. False when the file cannot be opened or holds 64
// bytes or more.
bool ReadServerVersion(const std::string& path, std::string& version);
