#include "ui/sdl/Picture.h"

#include <cassert>

Picture::Picture(int width, int height, Rgb fill) : width(width), height(height) {
  assert(width >= 0 && height >= 0);
  rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = fill.r;
    rgb[i + 1] = fill.g;
    rgb[i + 2] = fill.b;
  }
}

size_t Picture::Offset(int x, int y) const {
  assert(x >= 0 && x < width && y >= 0 && y < height);
  return (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
}

Rgb Picture::At(int x, int y) const {
  const size_t i = Offset(x, y);
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

void Picture::Set(int x, int y, Rgb colour) {
  const size_t i = Offset(x, y);
  rgb[i] = colour.r;
  rgb[i + 1] = colour.g;
  rgb[i + 2] = colour.b;
}
