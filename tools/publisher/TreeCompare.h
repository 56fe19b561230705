// Byte-for-byte comparison of the files below two folders, as the publisher's
// check uses it to prove that an installed or patched game equals the
// version it should be. Folders themselves (empty ones included) are not
// compared.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Adds every regular file below `folder` to `files`: relative name ("/"
// separators) -> path. `ignoredTop` (if not empty) names an entry directly
// below `folder` that is left out, such as the launcher folder inside a game
// folder. False when the folder cannot be read.
[[nodiscard]] bool ListFolderFiles(const std::string& folder, std::map<std::string, std::string>& files,
                                   std::string_view ignoredTop = {});

// True when both files can be read and hold the same bytes.
[[nodiscard]] bool SameFileBytes(const std::string& first, const std::string& second);

// One line per difference between the regular files below `expected` and
// below `actual`: names missing from `actual` or holding other bytes, then
// names `actual` should not have, each group in name order. `ignoredTop` is
// left out of `actual` as in ListFolderFiles. A folder that cannot be read
// gives one line saying so.
std::vector<std::string> CompareFolders(const std::string& expected, const std::string& actual,
                                        std::string_view ignoredTop = {});
