// The user's private temporary folder, where the launcher keeps files with
// fixed names.
#pragma once

#include <string>

// "<TMPDIR or /tmp>/tovalauncher-<uid>/", always with a trailing "/". The folder
// is created with mode 0700 when missing; an existing one must be a real
// folder (not a link) owned by the user that no one else may use (mode 0700
// or narrower). Empty when the folder cannot be created or is refused.
// $TMPDIR is used when it is an absolute path without "\". Any thread.
std::string GetTempFolderPath();
