#include "transfer/DownAntUrl.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/AsciiText.h"

namespace DOWNANT {
namespace {

struct SchemeInfo {
  const char* name;
  int number;
  uint16_t defaultPort;
};

constexpr SchemeInfo kSchemes[] = {
    {"ftp", kSchemeFtp, 21},  {"gopher", kSchemeGopher, 70}, {"http", kSchemeHttp, 80},    {"https", kSchemeHttps, 443},
    {"file", kSchemeFile, 0}, {"news", kSchemeNews, 0},      {"mailto", kSchemeMailto, 0},
};

// Trimmed from both ends of a URL: the controls, the blank and DEL.
constexpr std::string_view kBlanksAndControls(
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20\x7f",
    34);

// Bytes that are never sent as they are: controls, blank and non-ASCII.
bool NeedsEscape(unsigned char c) { return c <= 0x20 || c >= 0x7F; }
bool NeedsEscapeInPath(unsigned char c) { return NeedsEscape(c) || std::strchr("\"<>^`{|}", c) != nullptr; }

template <typename Predicate>
void AppendEscaped(std::string& out, std::string_view text, Predicate needsEscape) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (needsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
}

// Resolves "." and ".." segments of a path that begins with "/".
std::string RemoveDotSegments(std::string_view path) {
  if (path.empty()) return {};
  std::vector<std::string_view> kept;
  bool trailingSlash = false;
  size_t pos = 1;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(pos, end - pos);
    const bool last = end == path.size();
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      trailingSlash = last;
    } else {
      kept.push_back(segment);
      trailingSlash = false;
    }
    pos = end + 1;
  }
  std::string out = "/";
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out += kept[i];
  }
  if (trailingSlash && out.size() > 1) out += '/';
  return out;
}

const SchemeInfo* FindScheme(std::string_view name) {
  for (const SchemeInfo& scheme : kSchemes) {
    if (EqualsIgnoreCase(name, scheme.name)) return &scheme;
  }
  return nullptr;
}

// Splits "host[:port]" (userinfo already removed) into the parts.
bool ParseHostAndPort(std::string_view hostPort, DownAntUrl& parts) {
  size_t hostEnd = hostPort.size();
  if (hostPort.starts_with('[')) {
    hostEnd = hostPort.find(']');
    if (hostEnd == std::string_view::npos) return false;
    ++hostEnd;
  } else {
    hostEnd = std::min(hostPort.find(':'), hostPort.size());
  }
  parts.hostName = std::string(hostPort.substr(0, hostEnd));
  if (parts.hostName.empty()) return false;
  std::string_view port = hostPort.substr(hostEnd);
  if (port.empty()) return true;
  if (port.front() != ':') return false;
  port.remove_prefix(1);
  if (port.empty()) return true;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (error != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) return false;
  parts.port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool ParseDownAntUrl(std::string_view url, DownAntUrl& parts) {
  url = Trim(url, kBlanksAndControls);
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const SchemeInfo* info = FindScheme(url.substr(0, colon));
  if (info == nullptr) return false;
  std::string_view rest = url.substr(colon + 1);
  if (!rest.starts_with("//")) return false;
  rest.remove_prefix(2);

  const size_t authorityEnd = std::min(rest.find_first_of("/?#\\"), rest.size());
  std::string_view authority = rest.substr(0, authorityEnd);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  parts = DownAntUrl{info->number, info->name, {}, info->defaultPort, {}};
  if (!ParseHostAndPort(authority, parts)) return false;

  rest.remove_prefix(authorityEnd);
  rest = rest.substr(0, std::min(rest.find('#'), rest.size()));
  const size_t queryStart = std::min(rest.find('?'), rest.size());
  std::string path(rest.substr(0, queryStart));
  std::replace(path.begin(), path.end(), '\\', '/');
  AppendEscaped(parts.objectPath, RemoveDotSegments(path), NeedsEscapeInPath);
  AppendEscaped(parts.objectPath, rest.substr(queryStart), NeedsEscape);
  return true;
}

std::string RequestUrl(const DownAntUrl& parts) {
  std::string url = parts.schemeName + "://" + parts.hostName + ":" + std::to_string(parts.port);
  url += parts.objectPath.empty() || parts.objectPath.front() == '?' ? "/" + parts.objectPath : parts.objectPath;
  return url;
}

}  // namespace DOWNANT
