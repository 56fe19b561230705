// Analysis files: how a file that a patch adds or changes travels inside a
// package. Up to three five-byte markers at the start, each recognised only in
// this order and only at the current start: "QOCP" 0x00, "QOXD" 0x00 (the
// payload is a VCDIFF delta), "QORS" 0x00. Everything after them is the
// payload, the whole new file or a delta against the installed one.
// Paths are in the launcher's "\" form. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Bytes of the longest marker header.
inline constexpr size_t kAnalysisHeaderMax = 15;

struct AnalysisHeader {
  size_t length = 0;   // bytes of markers before the payload
  bool delta = false;  // "QOXD" was among them
};

// The markers at the start of `head` (the first bytes of a file; a shorter
// head simply holds no further marker).
AnalysisHeader ParseAnalysisHeader(std::span<const uint8_t> head);

// Writes the payload of the analysis file `source` to `target`, creating the
// folders of `target` and replacing any file there by a new one (a second
// name of `source` when it has no markers). Sets `*delta` when the markers
// announce a delta. False when `source` cannot be opened or its size read,
// the folders or `target` cannot be created, or the payload cannot be copied
// whole; a source of 0 bytes gives an empty target.
[[nodiscard]] bool WriteAnalysisPayload(std::string_view source, std::string_view target, bool* delta);
