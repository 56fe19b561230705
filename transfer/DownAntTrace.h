// Trace lines of the segmented download engine for an external viewer.
//
// Each call formats a text (cut to 2047 bytes) and hands the viewer one
// record: the bytes 1, a, b and 0, then the text with its NUL, then four zero
// bytes (the record is text length + 9 bytes long). Records go to the trace
// sink installed by the process; none is installed by default, and then a
// call formats nothing and sends nothing. Any thread may trace or install.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace DOWNANT {

using DownAntTraceSink = std::function<void(std::string_view record)>;

// Installs the receiver of every later record; an empty function removes it.
// A record being delivered while the sink is replaced still reaches the old
// sink.
void SetDownAntTraceSink(DownAntTraceSink sink);

// The printf-style text, cut to its first `maxBytes` bytes (the engine's
// texts live in fixed buffers on the viewer's side).
std::string FormatDownAntText(size_t maxBytes, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string FormatDownAntTextV(size_t maxBytes, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

// Requests trace with a = segment index, b = 0; the manager with a = 0 and
// b = 0 or 1.
void DownAntTrace(uint8_t a, uint8_t b, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace DOWNANT
