#include "ui/sdl/FontLadder.h"

std::unique_ptr<FontLadder> FontLadder::Open(const WindowFont::File& file, const std::vector<int>& cellHeights) {
  std::vector<std::unique_ptr<WindowFont>> fonts;
  for (const int cellHeight : cellHeights) {
    fonts.push_back(WindowFont::Open(file, cellHeight));
    if (!fonts.back()) return nullptr;
  }
  if (fonts.empty()) return nullptr;
  return std::unique_ptr<FontLadder>(new FontLadder(std::move(fonts)));
}

FontLadder::FontLadder(std::vector<std::unique_ptr<WindowFont>> fonts) : fonts_(std::move(fonts)) {
  for (const std::unique_ptr<WindowFont>& font : fonts_) {
    const WindowFont* measured = font.get();
    measures_.push_back({font->cellHeight(), [measured](std::string_view text) { return measured->Measure(text); }});
  }
}

FittedText FontLadder::Fit(std::string_view text, int width, int height) const {
  return FitText(text, width, height, measures_);
}

void FontLadder::Draw(SDL_Surface* target, const FittedText& fitted, const SDL_Rect& area, SDL_Color colour,
                      bool centred) const {
  const WindowFont& font = *fonts_[fitted.font];
  SDL_Rect previousClip;
  SDL_GetClipRect(target, &previousClip);
  SDL_SetClipRect(target, &area);
  int y = area.y + fonts_.front()->cellHeight() - font.cellHeight();
  for (const std::string& line : fitted.lines) {
    const int x = centred ? area.x + (area.w - font.Measure(line)) / 2 : area.x;
    font.DrawLine(target, line, {x, y}, colour);
    y += font.cellHeight();
  }
  SDL_SetClipRect(target, &previousClip);
}
