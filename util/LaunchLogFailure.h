// The reason a stopped run can give in one line: the last failure line of the
// launch log "Launch.log" in the current folder.
#pragma once

#include <cstddef>
#include <string>

// The message (without its time) of the log's last line that tells of a
// failure: an error line (it begins "FILE=" or "FILE =") or a line with a
// word that begins with "fail" or "error" in any letter case. A message longer than
// `maxBytes` is cut at a character boundary and ends with "…" (within the
// bytes). Empty when the log has no such line or cannot be read. Only the
// log's last 64 KiB are read. Any thread.
std::string LastLaunchLogFailure(size_t maxBytes);
