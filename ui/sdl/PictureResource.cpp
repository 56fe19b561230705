#include "ui/sdl/PictureResource.h"

#include <SDL_image.h>

#include "ui/sdl/EmbeddedPictures.h"
#include "ui/sdl/SdlSurface.h"

std::optional<Picture> LoadPictureResource(int id) {
  for (const EmbeddedPicture& embedded : EmbeddedPictures()) {
    if (embedded.id != id) continue;
    SurfacePtr decoded(IMG_Load_RW(SDL_RWFromConstMem(embedded.png, static_cast<int>(embedded.size)), 1));
    if (!decoded) return std::nullopt;
    Picture picture = PictureFromSurface(decoded.get());
    if (picture.empty()) return std::nullopt;
    return picture;
  }
  return std::nullopt;
}
