#include "ui/sdl/TextWrap.h"

#include <optional>

namespace {

// Characters that may not start a line: small kana, the long vowel mark,
// iteration marks, closing brackets and punctuation.
constexpr std::u32string_view kNoLineStart =
    U"、。，．・：；？！゛゜ヽヾゝゞ々〻ー）］｝」』】〕〉》〙〗〟’”｠»…‥〜～‐゠–"
    U"ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶㇰㇱㇲㇳㇴㇵㇶㇷㇸㇹㇺㇻㇼㇽㇾㇿ"
    U"｡｣､･ｧｨｩｪｫｬｭｮｯｰﾞﾟ!),.:;?]}%";
// Characters that may not end a line: opening brackets.
constexpr std::u32string_view kNoLineEnd = U"（［｛「『【〔〈《〘〖〝‘“｟«([{";
// Characters after which a phrase ends.
constexpr std::u32string_view kPhraseEnd = U"。、，．！？!?";

struct Character {
  size_t at;  // byte offset in the paragraph
  char32_t code;
};

// The characters of UTF-8 `text`; a byte that starts no valid sequence
// counts as a character of its own.
std::vector<Character> Decode(std::string_view text) {
  std::vector<Character> characters;
  size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    size_t end = at + 1;
    while (end < text.size() && end < at + length && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      code = code << 6 | (static_cast<unsigned char>(text[end]) & 0x3F);
      ++end;
    }
    characters.push_back({at, code});
    at = end;
  }
  return characters;
}

bool IsBlank(char32_t c) { return c == U' ' || c == U'\t' || c == U'\u3000'; }
// Printable ASCII: Latin words, numbers and their signs are not broken.
bool IsLatin(char32_t c) { return c > U' ' && c < 0x7F; }
bool IsHiragana(char32_t c) { return c >= U'\u3041' && c <= U'\u309F'; }
bool In(std::u32string_view set, char32_t c) { return set.find(c) != std::u32string_view::npos; }

void WrapParagraph(std::string_view paragraph, int maxWidth, const TextMeasure& measure,
                   std::vector<std::string>& lines) {
  const std::vector<Character> characters = Decode(paragraph);
  const size_t count = characters.size();
  const auto byteAt = [&](size_t index) { return index < count ? characters[index].at : paragraph.size(); };
  const auto code = [&](size_t index) { return characters[index].code; };
  // The width of the characters [from, to), blanks at its end left out.
  const auto widthOf = [&](size_t from, size_t to) {
    while (to > from && IsBlank(code(to - 1))) --to;
    return measure(paragraph.substr(byteAt(from), byteAt(to) - byteAt(from)));
  };
  if (count == 0) {
    lines.emplace_back();
    return;
  }
  size_t start = 0;
  while (start < count) {
    // The first character from `start` that does not fit (blanks always fit).
    size_t fitEnd = start + 1;
    while (fitEnd < count && (IsBlank(code(fitEnd)) || widthOf(start, fitEnd + 1) <= maxWidth)) ++fitEnd;
    size_t end = fitEnd;
    if (fitEnd < count) {
      // Look back from there for a place to break.
      // The last place of each kind in the line's second half: the end of a
      // phrase, the start of a word after kana (particles and endings are
      // kana), any other; or else the last place at all.
      std::optional<size_t> allowed;
      std::optional<size_t> best[3];
      for (size_t b = fitEnd; b > start && !best[0]; --b) {
        const char32_t before = code(b - 1);
        const char32_t after = code(b);
        const bool atBlank = IsBlank(before) || IsBlank(after);
        bool canBreak = false;
        if (atBlank) {
          size_t wordEnd = b;  // a break at blanks needs a character before them
          while (wordEnd > start && IsBlank(code(wordEnd - 1))) --wordEnd;
          canBreak = wordEnd > start;
        } else {
          canBreak = !(IsLatin(before) && IsLatin(after)) && !In(kNoLineStart, after) && !In(kNoLineEnd, before);
        }
        if (!canBreak) continue;
        if (!allowed) allowed = b;
        if (2 * widthOf(start, b) < maxWidth) break;
        const size_t kind = atBlank || In(kPhraseEnd, before) ? 0 : IsHiragana(before) && !IsHiragana(after) ? 1 : 2;
        if (!best[kind]) best[kind] = b;
      }
      for (const std::optional<size_t>& place : {best[0], best[1], allowed}) {
        if (place) {
          end = *place;
          break;
        }
      }
    }
    size_t lineEnd = end;
    while (lineEnd > start && IsBlank(code(lineEnd - 1))) --lineEnd;
    lines.emplace_back(paragraph.substr(byteAt(start), byteAt(lineEnd) - byteAt(start)));
    start = end;
    while (start < count && IsBlank(code(start))) ++start;
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
