// Names that arrive in lists, descriptions and packages are joined to a
// folder before files are written or deleted. Only names that stay inside
// that folder may be used.
#pragma once

#include <string_view>

// True when `name` is relative and none of its components (separated by "\"
// or "/") is "..". Absolute names ("\x", "/x") and names with a drive
// ("C:x") are refused. An empty name is relative and counts as safe: callers
// that need a file name check for emptiness themselves.
bool IsSafeRelativeName(std::string_view name);
