// The window font in a few sizes, from the largest, to fit texts into the
// rooms of the windows (TextFit.h) and draw them there.
//
// Thread: the thread that draws the windows (SDL2_ttf started).
#pragma once

#include <SDL.h>

#include <memory>
#include <string_view>
#include <vector>

#include "ui/sdl/TextFit.h"
#include "ui/sdl/WindowFont.h"

class FontLadder {
 public:
  // The font of `file` in the cell heights `cellHeights` (from the largest);
  // null when it cannot be opened in one of them.
  static std::unique_ptr<FontLadder> Open(const WindowFont::File& file, const std::vector<int>& cellHeights);

  const WindowFont& font(size_t index) const { return *fonts_[index]; }

  // `text` fitted into a room of `width` x `height`.
  FittedText Fit(std::string_view text, int width, int height) const;

  // Draws `fitted` in `area`, one line per cell height of its font from the
  // top, each line from the left edge or centred, cut at the edges of `area`.
  // A smaller size starts lower by the difference of the cell heights, so
  // its first line ends where the largest size's would.
  void Draw(SDL_Surface* target, const FittedText& fitted, const SDL_Rect& area, SDL_Color colour, bool centred) const;

 private:
  explicit FontLadder(std::vector<std::unique_ptr<WindowFont>> fonts);

  std::vector<std::unique_ptr<WindowFont>> fonts_;
  std::vector<FontMeasure> measures_;
};
