// printf-style formatting into a std::string: the window's texts, event texts
// and log arguments are given as printf formats.
#pragma once

#include <string>

// The formatted text, whatever its length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
