// A download that stopped before its end keeps its bytes in its temporary
// file (DownloadTemporaryPath) and this record beside it, "<temporary
// path>.part": the address, the local file the bytes are for, how many bytes
// the file holds, and what the server said about the whole file (its length,
// ETag and Last-Modified). A later transfer to the same local file asks only
// for the rest, with If-Range carrying a validator, so that a changed file on
// the server is sent whole.
//
// A record is trusted only while it matches its file; anything else is
// removed together with the file, and the download begins from zero. A large
// transfer also notes itself when its body begins (NoteRunningDownload), so
// that a launcher killed during it leaves bytes the next run can resume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PartialDownload {
  std::string url;  // the address that gave the bytes (for the log reader)
  std::string localPath;
  uint64_t held = 0;        // bytes in the temporary file; 0 in a running note
  uint64_t fullLength = 0;  // the whole file's length
  std::string etag;         // a strong ETag, or empty
  std::string lastModified;

  // The value for If-Range: the ETag, else Last-Modified; empty when the
  // server gave neither, and then the bytes cannot be resumed.
  std::string Validator() const { return etag.empty() ? lastModified : etag; }
};

// "<temporaryPath>.part".
std::string PartialRecordPath(std::string_view temporaryPath);

// The record of the bytes at `temporaryPath` when they can be resumed for
// `localPath`: the record reads whole, names this local file, has a
// validator, and 0 < held = the file's size <= fullLength <= maxBytes. Bytes
// of the whole file lose their last byte here, so that the request for the
// rest asks the server whether they are still its file. The record itself is
// removed either way (the caller writes it again when the bytes stay);
// without a usable record the temporary file is removed too.
[[nodiscard]] std::optional<PartialDownload> TakePartialDownload(const std::string& temporaryPath,
                                                                 const std::string& localPath, uint64_t maxBytes);

// Keeps the bytes at `temporaryPath` for a later transfer: writes `record`
// with held = the file's size. When the file is empty or the record cannot
// be written, or the record is not usable (no validator, held above the
// full length), the file and any record are removed instead. True when kept.
bool KeepPartialDownload(const std::string& temporaryPath, PartialDownload record);

// Notes the transfer into `temporaryPath` whose body begins now, when the
// whole file is large enough to be worth resuming and `record` has a
// validator: a record with held = 0, which vouches for whatever bytes the
// file holds (up to the full length) should the launcher end without settling
// the transfer. The transfer's end replaces it (KeepPartialDownload) or
// removes it (DiscardPartialDownload).
void NoteRunningDownload(const std::string& temporaryPath, PartialDownload record);

// Removes the temporary file and its record.
void DiscardPartialDownload(const std::string& temporaryPath);

// Empties the scratch folder of what an earlier run left, except partial
// files whose records match them (and those records).
void CleanScratchFolder(const std::string& folder);

// "bytes <first>-<last>/<length>" of a Content-Range header, blanks around it
// allowed; nullopt for any other form (including "*" for the length).
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t length = 0;
};
[[nodiscard]] std::optional<ContentRange> ParseContentRange(std::string_view value);
