#include "util/LaunchLogFailure.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string_view>

#include "util/LaunchLog.h"

namespace {

constexpr std::streamoff kTailBytes = 64 * 1024;
constexpr std::string_view kEllipsis = "…";

// True when a word of `text` begins with `word` (lower case), in any letter
// case: "download fail:" and "Error," do, "LE_InstallByCPFail" (an event's
// name in an analytics record) does not.
bool HasWordStartingWith(std::string_view text, std::string_view word) {
  for (size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (at > 0 && std::isalpha(static_cast<unsigned char>(text[at - 1])) != 0) continue;
    if (std::equal(word.begin(), word.end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
      return true;
  }
  return false;
}

// The message of a log line "[DD_HH:MM:SS]: message".
std::string_view MessageOf(std::string_view line) {
  const size_t start = line.find("]: ");
  return start == std::string_view::npos ? line : line.substr(start + 3);
}

bool TellsOfFailure(std::string_view message) {
  return message.starts_with("FILE=") || message.starts_with("FILE =") || HasWordStartingWith(message, "fail") ||
         HasWordStartingWith(message, "error");
}

// `text` cut to `maxBytes` with the ellipsis, never inside a UTF-8 character.
std::string Shortened(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  if (maxBytes < kEllipsis.size()) return {};
  size_t keep = maxBytes - kEllipsis.size();
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  std::string_view kept = text.substr(0, keep);
  while (!kept.empty() && kept.back() == ' ') kept.remove_suffix(1);
  return std::string(kept) + std::string(kEllipsis);
}

}  // namespace

std::string LastLaunchLogFailure(size_t maxBytes) {
  std::ifstream log(kLaunchLogName, std::ios::binary | std::ios::ate);
  if (!log) return {};
  const std::streamoff size = log.tellg();
  const std::streamoff start = std::max<std::streamoff>(0, size - kTailBytes);
  log.seekg(start);
  std::string tail(static_cast<size_t>(size - start), '\0');
  log.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  tail.resize(static_cast<size_t>(log.gcount()));

  std::string_view rest = tail;
  while (!rest.empty()) {
    const size_t lineEnd = rest.find_last_of('\n');
    std::string_view message = MessageOf(lineEnd == std::string_view::npos ? rest : rest.substr(lineEnd + 1));
    while (!message.empty() && (message.back() == '\r' || message.back() == ' ')) message.remove_suffix(1);
    if (TellsOfFailure(message)) return Shortened(message, maxBytes);
    if (lineEnd == std::string_view::npos) break;
    rest = rest.substr(0, lineEnd);
  }
  return {};
}
