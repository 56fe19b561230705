// The command line of tova-publish: "publish" writes an update-server tree,
// "verify" checks one, "--help" explains both.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

// Runs the command given by `arguments` (without the program name), writing
// results to `out` and failures to `err`. Returns the exit status: 0 on
// success, 1 when publishing fails or the check finds problems, 2 for a
// command line that cannot be used.
int RunPublisherCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// A byte count: decimal digits with an optional suffix K, M or G (powers of
// 1024). False for anything else, or a value that does not fit 64 bits.
[[nodiscard]] bool ParseByteSize(std::string_view text, uint64_t& bytes);
