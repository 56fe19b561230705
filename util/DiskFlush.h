// Making written files survive a power cut. Data that a write hands to the
// kernel sits in the page cache until the kernel writes it back; these calls
// wait until it is on the disk. Paths are in the launcher's "\" form. Any
// thread; none writes to the launch log.
#pragma once

#include <string_view>

// How a replaced file is put in place: kCached leaves its bytes and its name
// to the kernel's own write-back; kFlushed returns only once both are on the
// disk.
enum class Durability { kCached, kFlushed };

// Writes back everything the file system that holds `path` (a file or a
// folder) has in the page cache: the data of every file, and every name
// created, renamed or removed. One call makes all the files of an
// installation durable at once, at the cost of one pass over the cache.
// False when the path cannot be opened or a write-back failed.
[[nodiscard]] bool FlushFileSystemOf(std::string_view path);

// Writes back the entries of the folder (the names made, renamed or removed
// in it), not the files they name. False when the folder cannot be opened or
// the flush fails.
[[nodiscard]] bool FlushFolder(std::string_view folder);
