// URL parsing of the segmented download engine, in the way the engine's
// requests have always read URLs: the URL is first brought into canonical
// form, then split into scheme, host, port and object path.
//
// Canonical form: blanks and control bytes around the URL are dropped; the
// scheme is taken without regard to letter case; in the path "\" counts as
// "/", "." and ".." segments are resolved, and bytes that may not appear in a
// URL (controls, blank, bytes from 0x7F, and " < > \ ^ ` { | }) become "%XX";
// query and fragment keep their characters except controls, blank and bytes
// from 0x7F, which are escaped too. Existing "%XX" escapes are kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace DOWNANT {

// Scheme numbers, as the engine's requests number them.
inline constexpr int kSchemeUnknown = -1;
inline constexpr int kSchemeFtp = 1;
inline constexpr int kSchemeGopher = 2;
inline constexpr int kSchemeHttp = 3;
inline constexpr int kSchemeHttps = 4;
inline constexpr int kSchemeFile = 5;
inline constexpr int kSchemeNews = 6;
inline constexpr int kSchemeMailto = 7;

struct DownAntUrl {
  int scheme = kSchemeUnknown;
  std::string schemeName;  // lower case, e.g. "http"
  std::string hostName;    // as written, IPv6 addresses with their brackets
  uint16_t port = 80;      // when none is written: 21 ftp, 70 gopher, 80 http, 443 https, else 0
  std::string objectPath;  // canonical path and query, no fragment; may be empty
};

// Parses `url` into `parts`. False, leaving `parts` unspecified, when the URL
// is empty, its scheme is not one of the seven known ones, it has no
// "//host" part or an empty host, or its port is not a number from 1 to 65535.
[[nodiscard]] bool ParseDownAntUrl(std::string_view url, DownAntUrl& parts);

// The URL that reaches the server: scheme, host, port and object path ("/"
// when empty).
std::string RequestUrl(const DownAntUrl& parts);

}  // namespace DOWNANT
