// Small raster helpers for drawing the launcher's pictures: colour mixing,
// shape tests on pixel centres, and text through SDL2_ttf.
#pragma once

#include <SDL_ttf.h>

#include <string>

#include "ui/sdl/Picture.h"

namespace drawing {

// a + (b - a) * t for each channel, t in [0, 1].
Rgb Mix(Rgb a, Rgb b, double t);
// `colour` laid over the pixel with opacity `alpha` in [0, 1].
void Blend(Picture& picture, int x, int y, Rgb colour, double alpha);

// Shape tests on the centre of pixel (x, y).
bool InRoundedRect(int x, int y, int left, int top, int width, int height, double radius);
bool InCircle(int x, int y, double cx, double cy, double radius);

// Every pixel inside the picture for which `inside(x, y)` holds gets `colour(x, y)`.
template <class Inside, class Colour>
void Fill(Picture& picture, Inside inside, Colour colour) {
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (inside(x, y)) picture.Set(x, y, colour(x, y));
    }
  }
}

// The pixels of the shape `inside` that lie within `thickness` pixels of its
// outside (or of the picture's edge) get `colour`.
template <class Inside>
void Frame(Picture& picture, Inside inside, int thickness, Rgb colour) {
  Picture marked = picture;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (!inside(x, y)) continue;
      bool edge = false;
      for (int dy = -thickness; dy <= thickness && !edge; ++dy) {
        for (int dx = -thickness; dx <= thickness && !edge; ++dx) {
          if (dx * dx + dy * dy > thickness * thickness) continue;
          const int nx = x + dx;
          const int ny = y + dy;
          edge = nx < 0 || ny < 0 || nx >= picture.width || ny >= picture.height || !inside(nx, ny);
        }
      }
      if (edge) marked.Set(x, y, colour);
    }
  }
  picture = std::move(marked);
}

// Draws UTF-8 `text` with its top-left corner at (x, y), antialiased.
void Text(Picture& picture, TTF_Font* font, const std::string& text, int x, int y, Rgb colour);
// The width and height of `text` in `font`.
void TextSize(TTF_Font* font, const std::string& text, int& width, int& height);

// Replaces every exactly white pixel for which `inside` holds by an almost
// white one, so that only the intended holes stay white.
template <class Inside>
void KeepHolesOnly(Picture& picture, Inside inside) {
  Fill(
      picture, [&](int x, int y) { return inside(x, y) && picture.IsWhite(x, y); },
      [](int, int) {
        return Rgb{254, 254, 254};
      });
}

}  // namespace drawing
