#include "tools/publisher/AnalysisFileMaker.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "patch/AnalysisRecord.h"
#include "patch/QoPatcher_xdelta.h"
#include "tools/publisher/LzmaChunkWriter.h"
#include "util/LzmaRecord.h"

namespace {

constexpr char kGuard[] = {'Q', 'O', 'C', 'P', '\0', 'Q', 'O', 'R', 'S', '\0'};

// Sets `needed` when the file's first bytes would be taken for markers or
// for an LZMA chunk container. False with `error` when it cannot be read.
bool NeedsGuard(const std::string& path, bool& needed, std::string& error) {
  std::array<uint8_t, kAnalysisHeaderMax> head{};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  if (in.bad() || !in.is_open()) {
    error = "cannot read " + path;
    return false;
  }
  auto length = static_cast<size_t>(in.gcount());
  needed = ParseAnalysisHeader({head.data(), length}).length > 0 || HasLzmaRecordMagic(head.data(), length);
  return true;
}

bool WriteGuarded(const std::string& source, const std::string& target, std::string& error) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(kGuard, sizeof kGuard);
  if (in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();
  out.close();
  if (!in.is_open() || in.bad() || !out) {
    error = "cannot write " + target;
    return false;
  }
  return true;
}

bool FileSize(const std::string& path, uint64_t& size, std::string& error) {
  std::error_code code;
  size = std::filesystem::file_size(path, code);
  if (code) error = "cannot read " + path + ": " + code.message();
  return !code;
}

}  // namespace

bool MakeAnalysisFile(const SourceFile* previous, const SourceFile& next, const std::string& workBase,
                      const AnalysisSettings& settings, AnalysisFile& out, std::string& error) {
  out = AnalysisFile{next.path, false, false};
  bool guard = false;
  if (!NeedsGuard(next.path, guard, error)) return false;
  if (guard) {
    out.path = workBase + ".whole";
    if (!WriteGuarded(next.path, out.path, error)) return false;
  }
  uint64_t size = static_cast<uint64_t>(next.size) + (guard ? sizeof kGuard : 0);

  // A delta cannot beat an empty file, and says nothing an empty source could.
  if (previous != nullptr && previous->size > 0 && next.size > 0) {
    std::string delta = workBase + ".delta";
    if (QoPatcher_xdelta::GetInstance().MakeDelta(previous->path, next.path, delta) != 0) {
      error = "xdelta3 cannot encode " + next.path + " against " + previous->path;
      return false;
    }
    uint64_t deltaSize = 0;
    if (!FileSize(delta, deltaSize, error)) return false;
    if (deltaSize < size) {
      out.path = delta;
      out.delta = true;
      size = deltaSize;
    }
  }

  if (size > settings.lzmaThreshold) {
    std::string container = workBase + ".lzma";
    if (!LzmaChunkWriter(settings.lzmaChunkSize).WriteFile(out.path, container)) {
      error = "cannot write the LZMA chunk container " + container;
      return false;
    }
    out.path = container;
    out.lzma = true;
  }
  return true;
}
