// Names that arrive in lists, descriptions and packages are joined to a
// folder before files are written or deleted. Only names that stay inside
// that folder may be used.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when `name` is relative and none of its components (separated by "\"
// or "/") is "..". Absolute names ("\x", "/x") and names with a drive
// ("C:x") are refused. An empty name is relative and counts as safe: callers
// that need a file name check for emptiness themselves.
bool IsSafeRelativeName(std::string_view name);

// Names in lists, descriptions and zip entries are code page 936 text, and
// download addresses are made from that form; on the file system, as under
// Wine, the same name is UTF-8. Sets `local` to the file-system form of
// `listed` and returns true when `listed` is code page 936 text and that form
// is a safe relative name (IsSafeRelativeName: tested after the conversion,
// since a second byte of a code page 936 character may be "\"). False, with
// `local` empty, otherwise.
[[nodiscard]] bool LocalNameOf(std::string_view listed, std::string& local);

// `name` in the form in which the file system tells files apart: "/" between
// components, empty and "." components left out ("a\.\b" and "a//b" both give
// "a/b"). Letter case is kept: two names that differ only in case are two
// files. Used to find names that are one file under two spellings.
std::string FileSystemName(std::string_view name);

// The launcher's own folder is the current folder, and the game folder "..\"
// holds it. The launcher's files belong to the self-update, so a game list,
// page or patch may not name them. A guard for one `folder` (relative to the
// current folder, or absolute) reads the current folder once and then tells
// for any number of names whether `folder` lies outside the launcher's folder
// but `folder` + "\" + name is that folder or lies inside it. Decided from the
// names alone (".." going up); nothing enters when the current folder cannot
// be told.
class LauncherFolderGuard {
 public:
  explicit LauncherFolderGuard(std::string_view folder);
  bool Enters(std::string_view name) const;

 private:
  bool InLauncher(const std::vector<std::string>& path) const;

  bool known_ = false;                 // the current folder could be read
  std::vector<std::string> launcher_;  // components of the current folder
  std::vector<std::string> folder_;    // components of `folder`, resolved
};
