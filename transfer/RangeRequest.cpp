#include "transfer/RangeRequest.h"

#include <curl/curl.h>
#include <unistd.h>

#include <utility>

namespace {

// The value of the last response's header `name`; empty when it has none.
std::string ResponseHeader(CURL* curl, const char* name) {
  curl_header* header = nullptr;
  if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return {};
  return header->value;
}

}  // namespace

bool SetRangeRequest(void* curl, const std::optional<PartialDownload>& partial, void*& headers) {
  FreeRangeHeaders(headers);
  if (!partial) {
    return curl_easy_setopt(curl, CURLOPT_RANGE, nullptr) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr) == CURLE_OK;
  }
  // If-Range makes a server whose file changed send it whole (200).
  const std::string ifRange = "If-Range: " + partial->Validator();
  headers = curl_slist_append(nullptr, ifRange.c_str());
  const std::string range = std::to_string(partial->held) + "-";
  return headers != nullptr && curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str()) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK;
}

void FreeRangeHeaders(void*& headers) {
  curl_slist_free_all(static_cast<curl_slist*>(headers));
  headers = nullptr;
}

RangeAnswer JudgeRangeAnswer(void* curl, long status, std::optional<PartialDownload>& partial, const std::string& url,
                             const std::string& localPath) {
  std::string etag = ResponseHeader(curl, "ETag");
  if (etag.starts_with("W/")) etag.clear();  // a weak ETag cannot be used in If-Range
  std::string lastModified = ResponseHeader(curl, "Last-Modified");
  if (status == 200) {
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    partial = PartialDownload{
        url, localPath, 0, length > 0 ? static_cast<uint64_t>(length) : 0, std::move(etag), std::move(lastModified)};
    return RangeAnswer::kWhole;
  }
  if (!partial) return RangeAnswer::kOther;
  if (status == 416) return RangeAnswer::kRefused;
  if (status != 206) return RangeAnswer::kOther;
  const std::optional<ContentRange> range = ParseContentRange(ResponseHeader(curl, "Content-Range"));
  if (!range || range->first != partial->held || range->length != partial->fullLength ||
      range->last + 1 != range->length) {
    return RangeAnswer::kRefused;
  }
  partial->url = url;
  if (!etag.empty()) partial->etag = std::move(etag);
  if (!lastModified.empty()) partial->lastModified = std::move(lastModified);
  return RangeAnswer::kRest;
}

bool EmptyAppendedFile(std::FILE* file) { return std::fflush(file) == 0 && ::ftruncate(::fileno(file), 0) == 0; }
