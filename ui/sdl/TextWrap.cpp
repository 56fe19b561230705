#include "ui/sdl/TextWrap.h"

namespace {

// The length in bytes of the UTF-8 character that starts at `at`.
size_t CharacterLength(std::string_view text, size_t at) {
  size_t end = at + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return end - at;
}

void WrapParagraph(std::string_view paragraph, int maxWidth, const TextMeasure& measure,
                   std::vector<std::string>& lines) {
  if (paragraph.empty()) {
    lines.emplace_back();
    return;
  }
  size_t start = 0;
  while (start < paragraph.size()) {
    // The longest run of whole characters from `start` that fits, at least one.
    size_t end = start + CharacterLength(paragraph, start);
    size_t lastBlank = std::string_view::npos;
    while (end < paragraph.size()) {
      const size_t next = end + CharacterLength(paragraph, end);
      if (measure(paragraph.substr(start, next - start)) > maxWidth) break;
      // A blank after a word is a place to break; leading blanks are not.
      if (paragraph[end] == ' ' && paragraph[end - 1] != ' ') lastBlank = end;
      end = next;
    }
    if (end < paragraph.size() && paragraph[end] != ' ' && lastBlank != std::string_view::npos) end = lastBlank;
    size_t lineEnd = end;
    while (lineEnd > start && paragraph[lineEnd - 1] == ' ') --lineEnd;
    lines.emplace_back(paragraph.substr(start, lineEnd - start));
    start = end;
    while (start < paragraph.size() && paragraph[start] == ' ') ++start;
  }
}

}  // namespace

std::vector<std::string> WrapText(std::string_view text, int maxWidth, const TextMeasure& measure) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t feed = text.find('\n', start);
    std::string_view paragraph =
        text.substr(start, feed == std::string_view::npos ? text.size() - start : feed - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.remove_suffix(1);
    WrapParagraph(paragraph, maxWidth, measure, lines);
    if (feed == std::string_view::npos) break;
    start = feed + 1;
  }
  return lines;
}
