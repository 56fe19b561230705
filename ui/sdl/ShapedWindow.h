// A borderless top-level SDL2 window cut to a region: the pixels outside the
// region are holes that show what lies behind the window and take no clicks.
// It shows one frame (a surface of its size) at a time and can be dragged by
// the mouse.
//
// Thread: the thread that started SDL's video; it must handle the window's
// events.
#pragma once

#include <SDL.h>

#include <memory>
#include <string>

#include "ui/sdl/SdlSurface.h"
#include "ui/sdl/WindowRegion.h"

class ShapedWindow {
 public:
  // Creates the window hidden with the region's size (first as an OpenGL
  // window, then without OpenGL), shapes it with the region, moves it to
  // `position` and gives it a renderer (OpenGL for an OpenGL window, else
  // software). A video driver without shaped windows gets a plain
  // rectangular window. Null when no window or renderer can be made.
  static std::unique_ptr<ShapedWindow> Create(const std::string& title, SDL_Point position, const WindowRegion& region);
  ~ShapedWindow();
  ShapedWindow(const ShapedWindow&) = delete;
  ShapedWindow& operator=(const ShapedWindow&) = delete;

  SDL_Window* window() const { return window_; }
  Uint32 id() const { return SDL_GetWindowID(window_); }
  // Position and size on the screen.
  SDL_Rect Bounds() const;
  void MoveTo(SDL_Point position);

  void Show();
  void Hide();

  // Puts `frame` (ARGB8888, the window's size) on the screen and keeps it
  // for Refresh.
  void Present(SDL_Surface* frame);
  // Shows the last frame again, after the window was uncovered.
  void Refresh();

  // Dragging: a press starts it, every motion while it runs moves the window
  // by the pointer's travel on the screen since the press, the release ends
  // it. `pointer` is the pointer's screen position at the event (see
  // ScreenPointer.h), so the window's own movement does not disturb it.
  void BeginDrag(SDL_Point pointer);
  void FollowDrag(SDL_Point pointer);
  void EndDrag() { dragging_ = false; }
  bool dragging() const { return dragging_; }

 private:
  ShapedWindow(SDL_Window* window, SDL_Renderer* renderer, SDL_Texture* texture)
      : window_(window), renderer_(renderer), texture_(texture) {}

  SDL_Window* window_;
  SDL_Renderer* renderer_;
  SDL_Texture* texture_;
  bool dragging_ = false;
  SDL_Point dragPointer_{0, 0};
  SDL_Point dragWindow_{0, 0};
};
