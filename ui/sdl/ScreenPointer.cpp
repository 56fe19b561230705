#include "ui/sdl/ScreenPointer.h"

#include <SDL_syswm.h>

void ScreenPointer::Enable() { SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE); }

void ScreenPointer::Observe(const SDL_Event& event) {
#if defined(SDL_VIDEO_DRIVER_X11)
  if (event.type != SDL_SYSWMEVENT || event.syswm.msg == nullptr || event.syswm.msg->subsystem != SDL_SYSWM_X11) {
    return;
  }
  const XEvent& x11 = event.syswm.msg->msg.x11.event;
  switch (x11.type) {
    case ButtonPress:
    case ButtonRelease:
      at_ = {x11.xbutton.x_root, x11.xbutton.y_root};
      known_ = true;
      break;
    case MotionNotify:
      at_ = {x11.xmotion.x_root, x11.xmotion.y_root};
      known_ = true;
      break;
    default: break;
  }
#else
  (void)event;
#endif
}

SDL_Point ScreenPointer::At() const {
  if (known_) return at_;
  SDL_Point now{0, 0};
  SDL_GetGlobalMouseState(&now.x, &now.y);
  return now;
}
