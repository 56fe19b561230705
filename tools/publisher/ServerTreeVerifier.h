// Checks an update-server tree the way the launcher will use it:
// - each version file names a version whose folder exists;
// - every list ("GameInfo.ini", protected or plain) declares its folder's
//   version and lists exactly the files of its folder, with exact sizes, MD5
//   and CRC texts;
// - every installation description is plain (the install reads it as
//   downloaded), its pages have the listed sizes and MD5s, and installing
//   them with the launcher's applier gives the files of that version;
// - the patch list names the current version, every game version has a
//   chain of patches to it, every patch description and package is
//   consistent, and applying each patch with the launcher's applier to the
//   previous version gives the next version byte for byte.
// Installations and patches are applied in a private scratch folder, which
// is removed afterwards; the tree itself is only read.
//
// The applier works relative to the current folder, so the check changes
// the current folder while it runs and restores it at the end: call it from
// one thread while nothing else depends on the current folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

// True when no problem was found. Each problem is one line in `problems`.
// `progress` (may be empty) receives one line per checked part.
[[nodiscard]] bool VerifyServerTree(const std::string& base, std::vector<std::string>& problems,
                                    const std::function<void(const std::string&)>& progress = {});
