// Extraction of a zip package (patch package or installation page) into a
// folder, through zziplib.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Extracts every file of the zip archive at `zipPath` below `destFolder`
// ("\" form; the entry's path, code page 936 text like the names of lists,
// is appended in its file-system form after one "\"), overwriting existing
// files and creating the folders they need. Entries whose name ends in "/" or
// "\" are folders and produce nothing; an empty file is created empty. Data is
// copied in pieces of at most 10 MiB; each entry stops at its declared size.
//
// Each entry is opened by its exact name, so entries whose names differ only
// in letter case keep their own bytes.
//
// False when an argument is empty, the archive cannot be opened, an entry's
// name is not code page 936 text, is absolute, has a ".." component, leads into the launcher's own folder
// (LauncherFolderGuard) or is the name of an earlier entry, or the sizes the
// entries declare add up to more than the free space of the destination (all
// checked before anything is written), or an entry cannot be opened, read or
// written (a read-only target included). Files extracted before a failure
// stay in place; `extracted`, when given, receives the file-system name of
// every entry written, in order, so that the caller can remove them.
// Writes nothing to the launch log; the caller reports the failure. Any
// thread; two calls must not write the same files.
//
// `held`, when given, names an entry that must not reach its place with the
// others: it is written to `held->path` instead and left out of `extracted`,
// for the caller to put in place later (a version list, once the files it
// names are on the disk).
struct HeldEntry {
  std::string_view name;  // file-system name below the destination
  std::string_view path;  // where that entry is written instead
};
[[nodiscard]] bool UnzipPackage(std::string_view zipPath, std::string_view destFolder,
                                std::vector<std::string>* extracted = nullptr, const HeldEntry* held = nullptr);
