#include "ui/sdl/SdlSurface.h"

#include <cstring>

SurfacePtr MakeArgbSurface(int width, int height) {
  return SurfacePtr(SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888));
}

SurfacePtr SurfaceFromPicture(const Picture& picture) {
  SurfacePtr view(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(picture.rgb.data()), picture.width,
                                                     picture.height, 24, picture.width * 3, SDL_PIXELFORMAT_RGB24));
  if (!view) return nullptr;
  return SurfacePtr(SDL_ConvertSurfaceFormat(view.get(), SDL_PIXELFORMAT_ARGB8888, 0));
}

Picture PictureFromSurface(SDL_Surface* surface) {
  SurfacePtr rgb(SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_RGB24, 0));
  if (!rgb) return {};
  Picture picture(rgb->w, rgb->h);
  const size_t rowBytes = static_cast<size_t>(rgb->w) * 3;
  for (int y = 0; y < rgb->h; ++y) {
    std::memcpy(picture.rgb.data() + static_cast<size_t>(y) * rowBytes,
                static_cast<const uint8_t*>(rgb->pixels) + static_cast<ptrdiff_t>(y) * rgb->pitch, rowBytes);
  }
  return picture;
}
