// The test's own view of the X server: screenshots of the screen, a backdrop
// window under every other window, and the top-level windows being mapped.
// Each object has its own connection, so each thread makes its own.
#pragma once

#include <SDL.h>
#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <optional>

#include "ui/sdl/Picture.h"

namespace guitest {

class ScreenView {
 public:
  // Connects to the server that DISPLAY names.
  ScreenView();
  ~ScreenView();
  ScreenView(const ScreenView&) = delete;
  ScreenView& operator=(const ScreenView&) = delete;

  bool connected() const { return display_ != nullptr; }

  // What the screen shows in `rect`.
  Picture Grab(const SDL_Rect& rect);

  // Maps a window of one colour over the whole screen, below every other
  // window; it stays until the object ends.
  void ShowBackdrop(Rgb colour);

  // Maps a window of one colour over `rect`, above the windows there now
  // (there is no window manager to restack it); it stays until the object ends.
  void ShowCover(const SDL_Rect& rect, Rgb colour);

  // From now on, the top-level windows being mapped are noticed.
  void WatchMappedWindows();
  struct MappedWindow {
    Window id;
    SDL_Rect bounds;  // position and size on the screen
  };
  // Waits until a top-level window of `width` x `height` is mapped (after
  // WatchMappedWindows), up to `timeout`.
  std::optional<MappedWindow> WaitForMappedWindow(int width, int height, std::chrono::milliseconds timeout);

  // Asks the window to close as a window manager does (WM_DELETE_WINDOW).
  void RequestClose(Window window);

  // Grabs `rect` until `shows` accepts the picture, up to `timeout`; returns
  // whether it did. `between` runs between two grabs (for instance to let
  // the windows draw).
  bool WaitUntil(const SDL_Rect& rect, const std::function<bool(const Picture&)>& shows,
                 std::chrono::milliseconds timeout, const std::function<void()>& between = {});

 private:
  Window MapPlainWindow(const SDL_Rect& rect, Rgb colour);

  Display* display_ = nullptr;
  Window backdrop_ = 0;
};

}  // namespace guitest
