// Version texts that the update server announces: the small version file
// that the repair and the install download, and the check that a version may
// become part of a local folder or file name. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A version file of this many bytes or more is refused.
inline constexpr size_t kVersionFileLimit = 64;

// Reads the file at `path` (launcher "\" form). The version is the text up to
// the first zero byte with every space, tab, carriage return and line feed
// removed; it may be empty. False when the file cannot be opened or holds 64
// bytes or more.
[[nodiscard]] bool ReadServerVersion(const std::string& path, std::string& version);

// True when `version` holds neither "\" nor "/", so that a name made from a
// fixed prefix and the version stays one component of its folder: the
// staging folders built from versions are deleted with everything below them.
[[nodiscard]] bool IsVersionNameSafe(std::string_view version);
