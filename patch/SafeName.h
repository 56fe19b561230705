// Names that arrive in lists, descriptions and packages are joined to a
// folder before files are written or deleted. Only names that stay inside
// that folder may be used.
#pragma once

#include <string>
#include <string_view>

// True when `name` is relative and none of its components (separated by "\"
// or "/") is "..". Absolute names ("\x", "/x") and names with a drive
// ("C:x") are refused. An empty name is relative and counts as safe: callers
// that need a file name check for emptiness themselves.
bool IsSafeRelativeName(std::string_view name);

// `name` in the form in which the file system tells files apart: "/" between
// components, empty and "." components left out ("a\.\b" and "a//b" both give
// "a/b"). Letter case is kept: two names that differ only in case are two
// files. Used to find names that are one file under two spellings.
std::string FileSystemName(std::string_view name);

// The launcher's own folder is the current folder, and the game folder "..\"
// holds it. True when `folder` (relative to the current folder, or absolute)
// lies outside the launcher's folder but `folder` + "\" + `name` is that
// folder or lies inside it: the launcher's files belong to the self-update, so
// a game list, page or patch may not name them. Decided from the names alone
// (the current folder as getcwd gives it, ".." going up); false when the
// current folder cannot be told.
bool EntersLauncherFolder(std::string_view folder, std::string_view name);
