// Finding a running process by the name of its executable file.
#pragma once

#include <memory>
#include <string_view>

#include "platform/ProcessLauncher.h"

// The first running process (lowest process id; zombies skipped) one of whose
// names begins with the bytes of `name` (case-sensitive). Its names are the
// file name of its executable, its command name (the started file's name,
// also for a script, cut to 15 bytes by the kernel), and the file name of its
// first argument ("/" and "\" both separate; a Windows program run through
// Wine shows its own name there). Null when nothing matches or /proc cannot
// be read. The handle can end the process and is closed by its destructor.
std::unique_ptr<ProcessHandle> OpenProcessByName(std::string_view name);
