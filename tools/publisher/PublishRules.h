// What the launcher can take from a published tree. Versions and file names
// are checked before anything is written, so that a tree never holds an entry
// that the launcher would misread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A version file holds the version and "\r\n"; the launcher refuses version
// files of 64 bytes or more.
inline constexpr size_t kMaxVersionLength = 61;

// A description entry "name,2,0,<md5>,<md5>" is read up to 519 characters.
inline constexpr size_t kMaxFileNameLength = 519 - 70;

// Sizes of files and packages are read back as signed 32-bit numbers.
inline constexpr int64_t kMaxPublishedSize = INT32_MAX;

// Empty when `version` can be published, else the reason. A version names
// folders and files on the server and is read back with its blanks removed,
// so it is 1 to 61 characters of ASCII letters, digits, ".", "-", "_" and "+".
std::string CheckVersionText(std::string_view version);

// Empty when the relative file name `name` ("/" separators, UTF-8 as the file
// system gives it) can be published, else the reason. Refused: names the
// launcher would refuse (absolute, ".."), empty components, text that is not
// UTF-8 or holds a character that code page 936 lacks (lists name files in
// code page 936, see ListedName), control characters, "\" (a separator to the
// launcher), "," (the field separator of lists and descriptions), "#" (a
// comment in lists), "?" (it would end the download address), blanks at
// either end (trimmed by the INI readers), and names longer than
// kMaxFileNameLength.
std::string CheckFileName(std::string_view name);

// The form in which lists, descriptions and zip entries name a file that
// CheckFileName accepted: code page 936. The launcher makes the download
// address from it, which is the UTF-8 name the server tree stores the file
// under, and names its local file in UTF-8 again.
std::string ListedName(std::string_view name);

// Empty when `name`, already accepted by CheckFileName, can be published in
// the launcher's own folder, else the reason: the launcher refuses a list
// that names one of its working files (the running copy, its logs, its
// configuration, its lock, its "temp_" and "TempUpdata" folders).
std::string CheckLauncherFileName(std::string_view name);
