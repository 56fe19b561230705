// File and folder helpers. Paths are in the launcher's "\" form and are turned
// into the system's form only at the file-system call; relative paths are
// relative to the current folder. A file counts as read-only when its owner
// write permission bit is clear. None of these functions keeps state, so any
// thread may call them; none writes to the launch log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/DiskFlush.h"

// The low 32 bits of a regular file's size as a signed value. -1 when the path
// is empty or names something that cannot be opened for reading as a file
// (missing, a folder, no permission).
int32_t GetFileLength(std::string_view path);

// The folder that holds the file `path`: the path cut before its last "\" or
// "/" (the root stays "\" or "/"); "." for a name without a separator.
std::string FolderOfFile(std::string_view path);

// True when the path names an existing file or folder (symbolic links are
// followed).
bool IsPathExist(std::string_view path);

// Makes the folder and the missing folders above it. True when the path
// already exists (even as a file) or every missing level was created. A
// trailing "\" makes the last level be asked for twice, which reports false
// although the folder exists; CreateDirectoryForPath strips it.
[[nodiscard]] bool CreateDirectoryTree(std::string_view path);

// Makes the folder that `path` names, or with `pathNamesFile` the folder that
// holds the file (the path cut before its last "\"). "/" counts as "\"; one
// trailing separator is ignored. A file name without "\" lies in the current
// folder: true, and nothing is created. False, without touching the disk, for
// a path shorter than 2 characters.
[[nodiscard]] bool CreateDirectoryForPath(std::string_view path, bool pathNamesFile);

// Deletes the folder with everything below it. Symbolic links are removed
// themselves and never followed, not even when `folder` is one. The first
// entry that cannot be deleted stops the walk with false, and so does a
// read-only file (it is not made writable first). False when the folder
// cannot be listed (missing, not a folder).
[[nodiscard]] bool DeleteDirectoryTree(std::string_view folder);

// What DeleteFile does with a regular file whose owner write permission bit is
// clear.
enum class ReadOnlyFile { kRefuse, kDelete };

// Deletes one file as the Windows call does: a symbolic link is deleted
// itself, never what it points to, and a folder is never deleted. With
// kRefuse a read-only file is kept and counts as a failure; with kDelete it
// goes like any other (deleting needs write permission on the folder only).
// True when the file was deleted. False when nothing was: the path is missing
// (errno is then ENOENT, for callers to whom an absent file is as good as a
// deleted one), names a folder (EISDIR) or a refused read-only file (EACCES),
// or the deletion failed (errno from unlink).
bool DeleteFile(std::string_view path, ReadOnlyFile readOnly = ReadOnlyFile::kRefuse);

// Copies the source file's bytes, permission bits and times onto the target,
// replacing it at once when the copy is complete (FileReplacement), so that a
// copy cut short by a killed process or a full disk leaves the old target. A
// read-only target is made writable first. False when the source is missing
// or not a regular file, when source and target are the same file, or when
// the target cannot be made writable or written; the target is then left
// untouched, except where the file system has no unnamed files and a write
// failed: the partial target is removed. `durability` as for
// FileReplacement::Commit.
[[nodiscard]] bool CopyFileOverwrite(std::string_view source, std::string_view target,
                                     Durability durability = Durability::kCached);

// Puts the version file list `source` in place as `target`, the record that
// everything written before it is complete: first every file written so far
// on the target's file system is flushed (FlushFileSystemOf), then the list is
// copied as CopyFileOverwrite does, kFlushed. After a power cut at any moment
// the target holds the old list, or the new one with every file written
// before it. False when the flush or the copy fails; the old list then stays.
[[nodiscard]] bool CommitFileList(std::string_view source, std::string_view target);

// Reads the whole of a small regular file into `text`. False (with `text`
// unchanged) when it is missing, not a regular file, larger than `maxBytes`,
// or cannot be read to its end.
[[nodiscard]] bool ReadSmallFile(std::string_view path, uint64_t maxBytes, std::string& text);

// True when both files can be read whole within `maxBytes` and hold the same
// bytes.
[[nodiscard]] bool HoldSameBytes(std::string_view first, std::string_view second, uint64_t maxBytes);

// Replaces the contents of an existing file with `length` bytes of `data`.
// A read-only file is made writable first. False (and nothing created) when
// the file does not exist; false when it cannot be made writable, opened,
// written or flushed.
[[nodiscard]] bool RewriteFile(std::string_view path, const void* data, size_t length);
