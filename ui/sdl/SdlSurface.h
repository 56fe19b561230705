// SDL surfaces owned by unique pointers, and conversions between them and
// pictures. Any thread (surfaces are plain memory).
#pragma once

#include <SDL.h>

#include <memory>

#include "ui/sdl/Picture.h"

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// A 32-bit ARGB surface (SDL_PIXELFORMAT_ARGB8888) of `width` x `height`
// pixels, all transparent black; null when SDL cannot make it.
SurfacePtr MakeArgbSurface(int width, int height);

// The picture as an opaque ARGB surface; null when SDL cannot make it.
SurfacePtr SurfaceFromPicture(const Picture& picture);

// The surface's pixels as a picture (alpha dropped); empty when the surface
// cannot be converted.
Picture PictureFromSurface(SDL_Surface* surface);
