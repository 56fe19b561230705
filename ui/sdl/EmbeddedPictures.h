// The launcher's pictures as PNG files built into the program. The source
// that defines them is written at build time by the picture generator
// (ui/sdl/pictures/MakePictures.cpp).
#pragma once

#include <cstddef>
#include <span>

struct EmbeddedPicture {
  int id;  // resource number (ui/sdl/PictureIds.h)
  const unsigned char* png;
  size_t size;
};

std::span<const EmbeddedPicture> EmbeddedPictures();
