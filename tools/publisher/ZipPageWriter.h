// Numbered zip packages of a chosen maximum size, written with libzip so that
// the launcher's zziplib reader takes them: installation pages and patch
// packages. Output is deterministic: entries keep the order given, every
// entry carries the same fixed time (1980-01-01 00:00) and attributes, and the
// same bytes in give the same packages out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipPageEntry {
  std::string name;        // name inside the package, "/" separators, UTF-8 (written as ListedName gives it)
  std::string sourcePath;  // the file whose bytes the entry holds
  bool store = false;      // already compressed: kept as it is, not deflated
};

struct ZipPage {
  std::string fileName;         // prefix + index + ".zip"
  int64_t size = 0;             // bytes of the package
  std::string md5;              // 32 upper-case hex digits
  std::vector<size_t> entries;  // indices into the entries given, in order
};

// Writes `entries`, in order, into packages `folder`/prefix0.zip,
// prefix1.zip, ...: a package takes entries while it stays within
// `maxPageSize` bytes; an entry too large for any package gets one of its
// own. Two names that differ only in letter case never share a package: a
// launcher that looks entries up without regard to case would give both the
// bytes of one. Every entry is
// compressed once into a work archive at `workArchive`, whose compressed data
// the packages then copy. No entries give no packages.
// False with `error` when a file cannot be read, a package cannot be written,
// or one would be larger than kMaxPublishedSize.
[[nodiscard]] bool WriteZipPages(const std::vector<ZipPageEntry>& entries, const std::string& folder,
                                 const std::string& prefix, uint64_t maxPageSize, const std::string& workArchive,
                                 std::vector<ZipPage>& pages, std::string& error);
