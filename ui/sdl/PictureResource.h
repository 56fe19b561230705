// The pictures built into the program, by resource number
// (ui/sdl/PictureIds.h). Any thread.
#pragma once

#include <optional>

#include "ui/sdl/Picture.h"

// The decoded picture; nothing when no picture has that number or its bytes
// cannot be decoded.
std::optional<Picture> LoadPictureResource(int id);
