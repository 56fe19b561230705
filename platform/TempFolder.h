// The user's private temporary folder, where the launcher keeps files with
// fixed names.
#pragma once

#include <functional>
#include <string>

// "<TMPDIR or /tmp>/tovalauncher-<uid>/", always with a trailing "/". The folder
// is created with mode 0700 when missing; an existing one must be a real
// folder (not a link) owned by the user that no one else may use (mode 0700
// or narrower). $TMPDIR is used when it is an absolute path without "\".
//
// When that folder cannot be used (the base is missing or not writable,
// another user made the folder first, it is open to others, ...), a fresh
// private folder "<base>/tovalauncher-<uid>-XXXXXX" is made with mkdtemp, in
// the same base or else in /tmp, and given for that folder from then on in
// this process, which removes it with its contents when it exits; the notice
// handler is told why. Empty only when no fresh
// folder can be made either. Any thread.
std::string GetTempFolderPath();

// Removes the fresh folders this process made, with what they hold. Called
// at exit, and before the process image is replaced by another program (an
// exec runs no exit handlers, and the new image cannot find them). A later
// GetTempFolderPath in this process makes the folder again. Any thread.
void RemoveFreshTempFolders();

// Receives one plain-text line whenever the fixed folder is replaced by a
// fresh one, or none can be made: which folder, why, and what is used
// instead. The launcher writes it to its log; by default nothing is done.
// Any thread; the handler may be called on any thread.
using TempFolderNoticeHandler = std::function<void(const std::string& notice)>;
void SetTempFolderNoticeHandler(TempFolderNoticeHandler handler);
