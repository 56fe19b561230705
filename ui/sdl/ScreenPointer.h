// Where the mouse pointer was on the screen when the mouse event being
// handled happened. Dragging needs the pointer's screen position at the time
// of each event: reading it when the event is handled would be wrong for
// events that waited in the queue while the window moved. Under X11 the
// window system's own pointer events carry it, and SDL passes them on just
// before the mouse events made from them; other video drivers fall back to
// the pointer's position at the time of the call.
//
// Thread: the thread that handles the windows' events.
#pragma once

#include <SDL.h>

class ScreenPointer {
 public:
  // Asks SDL for the window system's events (SDL_SYSWMEVENT).
  static void Enable();

  // Keeps the screen position of an X11 pointer event; ignores other events.
  void Observe(const SDL_Event& event);

  // The pointer's screen position for the mouse event that followed the
  // last observed pointer event; the position now when there was none.
  SDL_Point At() const;

 private:
  bool known_ = false;
  SDL_Point at_{0, 0};
};
