// Paths inside the launcher keep the Windows form ("..\client\", "temp_d\").
// They are turned into the operating system's form only here, at the moment a
// file-system call is made. Relative paths stay relative to the current folder.
#pragma once

#include <string>
#include <string_view>

// Returns the path with every "\" replaced by "/".
std::string ToSystemPath(std::string_view path);
