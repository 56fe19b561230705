// The signature check of a downloaded version file, list or description in
// a launcher built with a signing public key (see docs/signatures.md): the
// file's "<address>.sig" is fetched and must vouch for the file's path below
// the server base and its bytes, must not have expired, and must not come
// from a publication older than one accepted before. Any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// True when the launcher was built with a signing public key; then every
// version file, list and description is checked.
bool MetadataSignaturesRequired();

// Fetches `url` to `localPath` (bounded by `maxBytes`); true when complete.
using SignatureFetch = std::function<bool(const std::string& url, const std::string& localPath, uint64_t maxBytes)>;

// Checks the file just downloaded from `address` to `localPath`, whose path
// below the server base is `pathBelowBase` ("\" or "/" separated, a leading
// separator ignored). The signature file is fetched through `fetch` from
// `address` + ".sig" next to the file and deleted afterwards. On success the
// publication's serial becomes the lowest one accepted from then on. On
// failure one launch-log line names the failed check and the address, the
// downloaded file is deleted, and the result is false.
[[nodiscard]] bool CheckMetadataSignature(const SignatureFetch& fetch, const std::string& address,
                                          const std::string& localPath, std::string_view pathBelowBase);
