#include "ui/sdl/TextFit.h"

#include <algorithm>

namespace {

// `line` with characters dropped from its end until it fits in `width` with
// the ellipsis after it; only the ellipsis when nothing does.
std::string Shorten(std::string line, int width, const TextMeasure& measure) {
  while (!line.empty() && measure(line + std::string(kEllipsis)) > width) {
    size_t last = line.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(line[last]) & 0xC0) == 0x80) --last;
    line.erase(last);
    while (!line.empty() && line.back() == ' ') line.pop_back();
  }
  return line + std::string(kEllipsis);
}

}  // namespace

FittedText FitText(std::string_view text, int width, int height, const std::vector<FontMeasure>& fonts) {
  FittedText fitted;
  for (size_t font = 0; font < fonts.size(); ++font) {
    const size_t room = static_cast<size_t>(std::max(1, height / fonts[font].cellHeight));
    fitted.font = font;
    fitted.lines = WrapText(text, width, fonts[font].measure);
    if (fitted.lines.size() <= room) return fitted;
    if (font + 1 == fonts.size()) {
      // The last line that fits takes the rest of its paragraph, shortened.
      // (The lines are pieces of the text in order.)
      size_t at = 0;
      for (size_t i = 0; i < room && at != std::string_view::npos; ++i) {
        at = text.find(fitted.lines[i], at);
        if (i + 1 < room && at != std::string_view::npos) at += fitted.lines[i].size();
      }
      std::string rest = fitted.lines[room - 1];
      if (at != std::string_view::npos) {
        const size_t feed = text.find('\n', at);
        rest = text.substr(at, feed == std::string_view::npos ? std::string_view::npos : feed - at);
        if (!rest.empty() && rest.back() == '\r') rest.pop_back();
      }
      fitted.lines.resize(room);
      fitted.lines.back() = Shorten(std::move(rest), width, fonts[font].measure);
      fitted.shortened = true;
    }
  }
  return fitted;
}
