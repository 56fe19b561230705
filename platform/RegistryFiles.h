// What the current user's registry store and the machine hive reader share:
// the home folder their files lie below by default, and how those text files
// are read. Any thread may call.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The user's home folder: $HOME when it is set and not empty, else the
// password database's entry for the user; empty when neither is known.
std::string HomeFolder();

// The lines of a text file without their line ends ("\n" or "\r\n"); none
// when the file is missing or cannot be read.
std::vector<std::string> ReadTextLines(const std::string& path);
// The same, but nothing when the file is there and cannot be opened or read
// to its end (a missing file has no lines): for a writer that must not
// replace a file it could not read.
std::optional<std::vector<std::string>> ReadExistingTextLines(const std::string& path);
