// The private folder a fuzz target works in. The readers take paths relative
// to the current folder and keep fixed names in the user's temporary folder,
// so every target runs inside a fresh folder of its own that is both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzsupport {

// Called once, from LLVMFuzzerInitialize. Makes a fresh folder (mode 0700)
// below $TMPDIR (else /tmp), makes it the current folder and $TMPDIR, and
// sends the launch log's standard-output echo and its "Launch.log" to
// /dev/null, so millions of inputs neither flood the terminal nor fill the
// disk. The folder is removed when the program exits normally. Aborts when
// any of this fails: a target must never run in a folder it does not own.
void EnterWorkspace();

// Removes everything the previous input left in the workspace.
void ClearWorkspace();

// Writes `size` bytes to `name` (relative to the workspace), creating the
// folders of the name. Aborts when the file cannot be written.
void WriteInput(const std::string& name, const uint8_t* data, size_t size);

// The bytes of `name`; empty when it cannot be read.
std::string ReadBack(const std::string& name);

// Whether `name` exists (a dangling link counts).
bool Exists(const std::string& name);

// The names directly in `folder` (relative to the workspace), in sorted order;
// the launch-log link of the workspace itself is left out.
std::vector<std::string> ListFolder(const std::string& folder);

}  // namespace fuzzsupport
