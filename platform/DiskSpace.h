// Free disk space.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Sets `bytes` to the space available to the calling user on the file system
// that holds `path` (an existing file or folder, "\" form) and returns true;
// false, with `bytes` unchanged, when the path cannot be queried. Any thread.
[[nodiscard]] bool GetDiskFreeBytes(std::string_view path, uint64_t& bytes);

// The free space for `path` as GetDiskFreeBytes gives it, asked of the path
// itself or, while it does not exist yet, of the nearest folder above it that
// does (the current folder for a bare name). False when nothing can be asked.
// `asked`, when given, receives the path that answered.
[[nodiscard]] bool GetDiskFreeBytesFor(std::string_view path, uint64_t& bytes, std::string* asked = nullptr);
