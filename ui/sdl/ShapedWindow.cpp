#include "ui/sdl/ShapedWindow.h"

#include <SDL_shape.h>

namespace {

// Creates the window hidden: shaped when the video driver can, as an OpenGL
// window when it can (a display without OpenGL refuses that flag).
SDL_Window* CreateWindow(const std::string& title, int width, int height, bool& shaped) {
  const Uint32 flags[] = {SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL, SDL_WINDOW_HIDDEN};
  for (const Uint32 flag : flags) {
    if (SDL_Window* window = SDL_CreateShapedWindow(title.c_str(), 0, 0, width, height, flag)) {
      shaped = true;
      return window;
    }
  }
  shaped = false;
  return SDL_CreateWindow(title.c_str(), 0, 0, width, height, SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
}

// SDL's OpenGL renderer for an OpenGL window, else the software renderer.
// SDL's other accelerated renderers recreate a window that lacks their
// flags, and a recreated window loses its shape and its position, so the
// renderer is named, and the software renderer draws into the window
// system's own framebuffer instead of trying an accelerated one.
SDL_Renderer* CreateRenderer(SDL_Window* window) {
  if ((SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL) != 0) {
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
      SDL_RendererInfo info;
      if (SDL_GetRenderDriverInfo(i, &info) != 0 || SDL_strcmp(info.name, "opengl") != 0) continue;
      if (SDL_Renderer* renderer = SDL_CreateRenderer(window, i, SDL_RENDERER_ACCELERATED)) return renderer;
    }
  }
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  return SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
}

// The region as the window's shape: opaque inside, transparent outside.
bool ApplyShape(SDL_Window* window, const WindowRegion& region) {
  SurfacePtr shape = MakeArgbSurface(region.width(), region.height());
  if (!shape) return false;
  for (int y = 0; y < region.height(); ++y) {
    auto* row =
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(shape->pixels) + static_cast<ptrdiff_t>(y) * shape->pitch);
    for (const RegionSpan& span : region.Row(y)) {
      for (int x = span.x0; x < span.x1; ++x) row[x] = 0xFF000000u;
    }
  }
  SDL_WindowShapeMode mode;
  mode.mode = ShapeModeBinarizeAlpha;
  mode.parameters.binarizationCutoff = 128;
  return SDL_SetWindowShape(window, shape.get(), &mode) == 0;
}

}  // namespace

std::unique_ptr<ShapedWindow> ShapedWindow::Create(const std::string& title, SDL_Point position,
                                                   const WindowRegion& region) {
  bool shaped = false;
  SDL_Window* window = CreateWindow(title, region.width(), region.height(), shaped);
  if (window == nullptr) return nullptr;
  if (shaped && !ApplyShape(window, region)) {
    SDL_DestroyWindow(window);
    return nullptr;
  }
  SDL_SetWindowPosition(window, position.x, position.y);
  SDL_Renderer* renderer = CreateRenderer(window);
  SDL_Texture* texture = renderer == nullptr
                             ? nullptr
                             : SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                                 region.width(), region.height());
  if (texture == nullptr) {
    if (renderer != nullptr) SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    return nullptr;
  }
  return std::unique_ptr<ShapedWindow>(new ShapedWindow(window, renderer, texture));
}

ShapedWindow::~ShapedWindow() {
  SDL_DestroyTexture(texture_);
  SDL_DestroyRenderer(renderer_);
  SDL_DestroyWindow(window_);
}

SDL_Rect ShapedWindow::Bounds() const {
  SDL_Rect bounds{0, 0, 0, 0};
  SDL_GetWindowPosition(window_, &bounds.x, &bounds.y);
  SDL_GetWindowSize(window_, &bounds.w, &bounds.h);
  return bounds;
}

void ShapedWindow::MoveTo(SDL_Point position) { SDL_SetWindowPosition(window_, position.x, position.y); }

void ShapedWindow::Show() { SDL_ShowWindow(window_); }

void ShapedWindow::Hide() { SDL_HideWindow(window_); }

void ShapedWindow::Present(SDL_Surface* frame) {
  SDL_UpdateTexture(texture_, nullptr, frame->pixels, frame->pitch);
  Refresh();
}

void ShapedWindow::Refresh() {
  SDL_RenderClear(renderer_);
  SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
  SDL_RenderPresent(renderer_);
}

void ShapedWindow::BeginDrag(SDL_Point pointer) {
  dragPointer_ = pointer;
  SDL_GetWindowPosition(window_, &dragWindow_.x, &dragWindow_.y);
  dragging_ = true;
}

void ShapedWindow::FollowDrag(SDL_Point pointer) {
  if (!dragging_) return;
  MoveTo({dragWindow_.x + pointer.x - dragPointer_.x, dragWindow_.y + pointer.y - dragPointer_.y});
}
