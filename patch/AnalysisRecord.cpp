#include "patch/AnalysisRecord.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "util/FileTransfer.h"
#include "util/FileUtil.h"

namespace {

constexpr size_t kMarkerSize = 5;

bool MarkerAt(std::span<const uint8_t> head, size_t offset, const char (&marker)[kMarkerSize]) {
  return head.size() >= offset + kMarkerSize && std::memcmp(head.data() + offset, marker, kMarkerSize) == 0;
}

}  // namespace

AnalysisHeader ParseAnalysisHeader(std::span<const uint8_t> head) {
  static constexpr char kCopy[kMarkerSize] = {'Q', 'O', 'C', 'P', '\0'};
  static constexpr char kDelta[kMarkerSize] = {'Q', 'O', 'X', 'D', '\0'};
  static constexpr char kRest[kMarkerSize] = {'Q', 'O', 'R', 'S', '\0'};
  AnalysisHeader header;
  if (MarkerAt(head, header.length, kCopy)) header.length += kMarkerSize;
  if (MarkerAt(head, header.length, kDelta)) {
    header.length += kMarkerSize;
    header.delta = true;
  }
  if (MarkerAt(head, header.length, kRest)) header.length += kMarkerSize;
  return header;
}

bool WriteAnalysisPayload(std::string_view source, std::string_view target, bool* delta) {
  UniqueFd in = OpenForReading(source);
  if (!in.valid()) return false;
  // The whole size, not GetFileLength's low 32 bits: a payload is never cut.
  struct stat info {};
  if (fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  uint8_t head[kAnalysisHeaderMax];
  size_t headLength = std::min<size_t>(sizeof head, static_cast<size_t>(info.st_size));
  if (pread(in.get(), head, headLength, 0) != static_cast<ssize_t>(headLength)) return false;
  AnalysisHeader header = ParseAnalysisHeader({head, headLength});
  if (!CreateDirectoryForPath(target, true)) return false;
  *delta = header.delta;

  // Without markers the payload is the whole file: a second name will do.
  if (header.length == 0) return LinkOrCopyFile(source, target);
  UniqueFd out = CreateFreshFile(target);
  if (!out.valid()) return false;
  auto payload = static_cast<int64_t>(info.st_size) - static_cast<int64_t>(header.length);
  return CopyFileBytes(in.get(), static_cast<int64_t>(header.length), out.get(), payload) && out.Close();
}
