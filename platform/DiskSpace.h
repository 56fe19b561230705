// Free disk space.
#pragma once

#include <cstdint>
#include <string_view>

// Sets `bytes` to the space available to the calling user on the file system
// that holds `path` (an existing file or folder, "\" form) and returns true;
// false, with `bytes` unchanged, when the path cannot be queried. Any thread.
[[nodiscard]] bool GetDiskFreeBytes(std::string_view path, uint64_t& bytes);
