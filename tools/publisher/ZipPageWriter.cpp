#include "tools/publisher/ZipPageWriter.h"

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "patch/checksum/QoChecksum.h"
#include "platform/AsciiText.h"
#include "tools/publisher/PublishRules.h"

namespace {

// 1980-01-01 00:00:00 in MS-DOS form, the earliest time a zip can hold.
constexpr zip_uint16_t kDosTime = 0;
constexpr zip_uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr zip_uint32_t kFileAttributes = 0100644u << 16;  // a regular file, rw-r--r--

// Bytes an entry adds to a package besides its compressed data: the local
// header (30) and the central directory record (46), each with the name.
// libzip writes no extra fields for these entries.
constexpr uint64_t kEntryOverhead = 30 + 46;
constexpr uint64_t kEndRecord = 22;

struct ArchiveDiscarder {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveDiscarder>;

Archive OpenArchive(const std::string& path, int flags, std::string& error) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), flags, &code);
  if (archive == nullptr) {
    zip_error_t zipError;
    zip_error_init_with_code(&zipError, code);
    error = "cannot open " + path + ": " + zip_error_strerror(&zipError);
    zip_error_fini(&zipError);
  }
  return Archive(archive);
}

// Adds `source` under `entry.name` with the fixed time and attributes, to be
// stored or deflated. Data that is already compressed the same way is copied
// as it is. On failure the source is freed here and `error` set.
bool AddEntry(zip_t* archive, const ZipPageEntry& entry, zip_source_t* source, std::string& error) {
  const std::string& name = entry.name;
  // Entries are named like the lists name files: in code page 936, which is
  // not UTF-8, so the entry does not carry the UTF-8 flag.
  zip_int64_t index =
      source == nullptr ? -1 : zip_file_add(archive, ListedName(name).c_str(), source, ZIP_FL_ENC_CP437);
  if (index < 0) {
    if (source != nullptr) zip_source_free(source);
    error = "cannot add " + name + ": " + zip_strerror(archive);
    return false;
  }
  auto added = static_cast<zip_uint64_t>(index);
  if (zip_file_set_dostime(archive, added, kDosTime, kDosDate, 0) != 0 ||
      zip_file_set_external_attributes(archive, added, 0, ZIP_OPSYS_UNIX, kFileAttributes) != 0 ||
      zip_set_file_compression(archive, added, entry.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) != 0) {
    error = "cannot describe " + name + ": " + zip_strerror(archive);
    return false;
  }
  return true;
}

// Writes the archive to disk; the object is gone afterwards either way.
bool CloseArchive(Archive archive, const std::string& path, std::string& error) {
  if (zip_close(archive.get()) != 0) {
    error = "cannot write " + path + ": " + zip_strerror(archive.get());
    return false;
  }
  archive.release();
  return true;
}

// Compresses every entry into the work archive, in order.
bool WriteWorkArchive(const std::vector<ZipPageEntry>& entries, const std::string& path, std::string& error) {
  Archive archive = OpenArchive(path, ZIP_CREATE | ZIP_TRUNCATE, error);
  if (!archive) return false;
  for (const ZipPageEntry& entry : entries) {
    // libzip opens the file only when it writes the archive, and then does
    // not say which file failed.
    zip_source_t* source = std::ifstream(entry.sourcePath).is_open()
                               ? zip_source_file(archive.get(), entry.sourcePath.c_str(), 0, -1)
                               : nullptr;
    if (source == nullptr) {
      error = "cannot read " + entry.sourcePath;
      return false;
    }
    if (!AddEntry(archive.get(), entry, source, error)) return false;
  }
  return CloseArchive(std::move(archive), path, error);
}

// Splits the entries into packages by their size in the work archive.
bool PlanPages(zip_t* work, const std::vector<ZipPageEntry>& entries, uint64_t maxPageSize, std::vector<ZipPage>& pages,
               std::string& error) {
  uint64_t pageSize = 0;
  std::set<std::string> pageNames;
  for (size_t i = 0; i < entries.size(); ++i) {
    zip_stat_t stat;
    if (zip_stat_index(work, i, 0, &stat) != 0 || (stat.valid & ZIP_STAT_COMP_SIZE) == 0) {
      error = "cannot measure " + entries[i].name + ": " + zip_strerror(work);
      return false;
    }
    uint64_t footprint = kEntryOverhead + 2 * entries[i].name.size() + stat.comp_size;
    std::string folded = ToLowerAscii(entries[i].name);
    bool full = !pages.empty() && (kEndRecord + pageSize + footprint > maxPageSize || pageNames.count(folded) != 0);
    if (pages.empty() || full) {
      pages.emplace_back();
      pageSize = 0;
      pageNames.clear();
    }
    pages.back().entries.push_back(i);
    pageSize += footprint;
    pageNames.insert(std::move(folded));
  }
  return true;
}

// Writes one package by copying the entries' compressed data from the work
// archive, then measures it.
bool WritePage(zip_t* work, const std::vector<ZipPageEntry>& entries, const std::string& path, uint64_t maxPageSize,
               ZipPage& page, std::string& error) {
  Archive archive = OpenArchive(path, ZIP_CREATE | ZIP_EXCL, error);
  if (!archive) return false;
  for (size_t index : page.entries) {
    zip_source_t* source = zip_source_zip(archive.get(), work, index, ZIP_FL_COMPRESSED, 0, -1);
    if (!AddEntry(archive.get(), entries[index], source, error)) return false;
  }
  if (!CloseArchive(std::move(archive), path, error)) return false;

  std::error_code code;
  uintmax_t size = std::filesystem::file_size(path, code);
  if (code || size > static_cast<uintmax_t>(kMaxPublishedSize)) {
    error = code ? "cannot measure " + path : path + " is larger than " + std::to_string(kMaxPublishedSize) + " bytes";
    return false;
  }
  // The plan counted every byte of a package; a package of several entries
  // above the limit means libzip wrote something the plan does not know.
  if (page.entries.size() > 1 && size > maxPageSize) {
    error = path + " came out larger than planned";
    return false;
  }
  page.size = static_cast<int64_t>(size);
  if (!GetMd5Checksum().MakeFileHex(path, page.md5)) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace

bool WriteZipPages(const std::vector<ZipPageEntry>& entries, const std::string& folder, const std::string& prefix,
                   uint64_t maxPageSize, const std::string& workArchive, std::vector<ZipPage>& pages,
                   std::string& error) {
  pages.clear();
  if (entries.empty()) return true;
  if (!WriteWorkArchive(entries, workArchive, error)) return false;
  Archive work = OpenArchive(workArchive, ZIP_RDONLY, error);
  if (!work || !PlanPages(work.get(), entries, maxPageSize, pages, error)) return false;
  for (size_t i = 0; i < pages.size(); ++i) {
    pages[i].fileName = prefix + std::to_string(i) + ".zip";
    if (!WritePage(work.get(), entries, folder + "/" + pages[i].fileName, maxPageSize, pages[i], error)) return false;
  }
  return true;
}
