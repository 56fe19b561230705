// The HTTP side of resuming (PartialDownload), shared by both downloaders:
// asking a libcurl handle for the rest of a file, and judging the answer.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "transfer/PartialDownload.h"

// Asks `curl` (a CURL*) for the bytes after those `partial` holds, with
// If-Range carrying its validator, or for the whole file when there is no
// partial. `headers` (a curl_slist*) receives the header list, which must
// live until the transfer has ended; the previous one is freed. False when
// libcurl refuses an option.
[[nodiscard]] bool SetRangeRequest(void* curl, const std::optional<PartialDownload>& partial, void*& headers);

// Frees a header list of SetRangeRequest (null is allowed) and clears it.
void FreeRangeHeaders(void*& headers);

// How the last response of `curl` answers a request for the file.
enum class RangeAnswer {
  kWhole,    // 200: the whole file; `partial` now describes it from byte 0
  kRest,     // 206 continuing the bytes held, with the same full length
  kRefused,  // asked for the rest: 416, or a 206 that does not continue them
  kOther,    // any other status; `partial` is unchanged
};
// Judges the last response of `curl` (its status is `status`) to a request
// made with SetRangeRequest(curl, partial). For kWhole and kRest `partial`
// takes the response's validators (a weak ETag is not one), the address
// `url` and `localPath`.
[[nodiscard]] RangeAnswer JudgeRangeAnswer(void* curl, long status, std::optional<PartialDownload>& partial,
                                           const std::string& url, const std::string& localPath);

// Empties a file opened for appending, whose bytes a whole answer replaces;
// later writes begin at byte 0. False when that fails.
[[nodiscard]] bool EmptyAppendedFile(std::FILE* file);
