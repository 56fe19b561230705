// The analysis file that carries one new or changed file inside a patch
// package: a VCDIFF delta against the previous version ("QOXD" 0x00 in front)
// when that is smaller than the whole file, else the whole file; above a size
// threshold either one travels as an LZMA chunk container.
#pragma once

#include <cstdint>
#include <string>

#include "tools/publisher/SourceTree.h"

struct AnalysisSettings {
  uint64_t lzmaThreshold = 0;  // analysis files larger than this are LZMA-chunked
  uint32_t lzmaChunkSize = 0;  // decoded bytes per LZMA record
};

struct AnalysisFile {
  std::string path;    // the bytes to put into the package
  bool delta = false;  // a delta against the previous version
  bool lzma = false;   // an LZMA chunk container (already compressed)
};

// Makes the analysis file for `next`. `previous` is the file it replaces, or
// null for a file that must travel whole. Work files are named `workBase`
// plus a suffix. A whole file that begins with "LZMA" or with a marker
// ("QOCP", "QOXD", "QORS" and 0x00) would be misread by the launcher; it
// gets "QOCP" 0x00 "QORS" 0x00 in front, which the launcher removes without
// looking at what follows. Without delta, guard or LZMA the file is used in
// place. False with `error` when a file cannot be read or written, or
// xdelta3 fails.
[[nodiscard]] bool MakeAnalysisFile(const SourceFile* previous, const SourceFile& next, const std::string& workBase,
                                    const AnalysisSettings& settings, AnalysisFile& out, std::string& error);
