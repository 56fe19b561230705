#include "ui/sdl/pictures/Drawing.h"

#include <algorithm>
#include <cmath>

namespace drawing {

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  const auto channel = [t](uint8_t from, uint8_t to) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * t));
  };
  return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

void Blend(Picture& picture, int x, int y, Rgb colour, double alpha) {
  if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
  picture.Set(x, y, Mix(picture.At(x, y), colour, alpha));
}

bool InRoundedRect(int x, int y, int left, int top, int width, int height, double radius) {
  const double px = x + 0.5;
  const double py = y + 0.5;
  if (px < left || py < top || px > left + width || py > top + height) return false;
  // Distance from the inner rectangle whose corners are the arcs' centres.
  const double dx = std::max({left + radius - px, 0.0, px - (left + width - radius)});
  const double dy = std::max({top + radius - py, 0.0, py - (top + height - radius)});
  return dx * dx + dy * dy <= radius * radius;
}

bool InCircle(int x, int y, double cx, double cy, double radius) {
  const double dx = x + 0.5 - cx;
  const double dy = y + 0.5 - cy;
  return dx * dx + dy * dy <= radius * radius;
}

void Text(Picture& picture, TTF_Font* font, const std::string& text, int x, int y, Rgb colour) {
  SDL_Surface* glyphs = TTF_RenderUTF8_Blended(font, text.c_str(), SDL_Color{255, 255, 255, 255});
  if (glyphs == nullptr) return;
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(glyphs, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(glyphs);
  if (argb == nullptr) return;
  for (int gy = 0; gy < argb->h; ++gy) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) + gy * argb->pitch);
    for (int gx = 0; gx < argb->w; ++gx) {
      const double alpha = (row[gx] >> 24) / 255.0;
      if (alpha > 0) Blend(picture, x + gx, y + gy, colour, alpha);
    }
  }
  SDL_FreeSurface(argb);
}

void TextSize(TTF_Font* font, const std::string& text, int& width, int& height) {
  width = 0;
  height = 0;
  TTF_SizeUTF8(font, text.c_str(), &width, &height);
}

}  // namespace drawing
