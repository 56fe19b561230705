#include "ui/sdl/CxSkinButton.h"

#include "ui/sdl/PictureResource.h"

namespace {

// The picture's pixel under point (x, y) of a rectangle of `width` x `height`
// over which the picture is stretched.
Rgb Stretched(const Picture& picture, int x, int y, int width, int height) {
  return picture.At(x * picture.width / width, y * picture.height / height);
}

}  // namespace

void CxSkinButton::MoveWindow(const SDL_Rect& rect) {
  rect_ = rect;
  Recompose();
}

void CxSkinButton::SetSkin(Skin skin) {
  skin_ = std::move(skin);
  region_.reset();
  if (!skin_.mask.empty()) region_ = BuildWindowRegion(skin_.mask);
  Recompose();
}

bool CxSkinButton::SetSkin(int normal, int pressed, int hover, int mask) {
  // Resource 0 leaves the picture empty; only hover and mask may be 0.
  const auto load = [](int id, Picture& picture) {
    if (id == 0) return true;
    std::optional<Picture> loaded = LoadPictureResource(id);
    if (loaded) picture = std::move(*loaded);
    return loaded.has_value();
  };
  Skin skin;
  if (normal == 0 || pressed == 0 || !load(normal, skin.normal) || !load(pressed, skin.pressed) ||
      !load(hover, skin.hover) || !load(mask, skin.mask)) {
    return false;
  }
  SetSkin(std::move(skin));
  return true;
}

bool CxSkinButton::OnMask(int x, int y) const {
  if (!region_) return true;
  return region_->Contains(x * skin_.mask.width / rect_.w, y * skin_.mask.height / rect_.h);
}

bool CxSkinButton::HitTest(int x, int y) const {
  const int bx = x - rect_.x;
  const int by = y - rect_.y;
  if (bx < 0 || by < 0 || bx >= rect_.w || by >= rect_.h) return false;
  return OnMask(bx, by);
}

void CxSkinButton::OnMouseMove(int x, int y) { over_ = HitTest(x, y); }

void CxSkinButton::OnButtonDown(int x, int y) {
  over_ = HitTest(x, y);
  if (over_) held_ = true;
}

bool CxSkinButton::OnButtonUp(int x, int y) {
  over_ = HitTest(x, y);
  const bool click = held_ && over_;
  held_ = false;
  return click;
}

void CxSkinButton::OnMouseLeave() { over_ = false; }

CxSkinButton::Look CxSkinButton::look() const {
  if (held_ && over_) return Look::kPressed;
  if (over_ && !skin_.hover.empty()) return Look::kHover;
  return Look::kNormal;
}

SurfacePtr CxSkinButton::Compose(const Picture& face) const {
  if (face.empty() || rect_.w <= 0 || rect_.h <= 0) return nullptr;
  SurfacePtr surface = MakeArgbSurface(rect_.w, rect_.h);
  if (!surface) return nullptr;
  for (int y = 0; y < rect_.h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) +
                                            static_cast<ptrdiff_t>(y) * surface->pitch);
    for (int x = 0; x < rect_.w; ++x) {
      if (!OnMask(x, y)) continue;  // stays transparent
      const Rgb c = Stretched(face, x, y, rect_.w, rect_.h);
      row[x] = 0xFF000000u | static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
    }
  }
  SDL_SetSurfaceBlendMode(surface.get(), SDL_BLENDMODE_BLEND);
  return surface;
}

void CxSkinButton::Recompose() {
  normalFace_ = Compose(skin_.normal);
  pressedFace_ = Compose(skin_.pressed);
  hoverFace_ = Compose(skin_.hover);
}

void CxSkinButton::Paint(SDL_Surface* target) const {
  SDL_Surface* face = normalFace_.get();
  if (look() == Look::kPressed) face = pressedFace_.get();
  if (look() == Look::kHover) face = hoverFace_.get();
  if (face == nullptr) return;
  SDL_Rect at = rect_;
  SDL_BlitSurface(face, nullptr, target, &at);
}
