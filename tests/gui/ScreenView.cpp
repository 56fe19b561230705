#include "tests/gui/ScreenView.h"

#include <X11/Xutil.h>
#include <poll.h>

#include "tests/gui/XvfbServer.h"

namespace guitest {

namespace {

// The position of the lowest set bit of a colour mask.
int Shift(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

}  // namespace

ScreenView::ScreenView() : display_(XOpenDisplay(nullptr)) {}

ScreenView::~ScreenView() {
  if (display_ == nullptr) return;
  if (backdrop_ != 0) XDestroyWindow(display_, backdrop_);
  XCloseDisplay(display_);
}

Picture ScreenView::Grab(const SDL_Rect& rect) {
  XSync(display_, False);
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), rect.x, rect.y, static_cast<unsigned>(rect.w),
                            static_cast<unsigned>(rect.h), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  Picture picture(rect.w, rect.h);
  const int red = Shift(image->red_mask), green = Shift(image->green_mask), blue = Shift(image->blue_mask);
  for (int y = 0; y < rect.h; ++y) {
    for (int x = 0; x < rect.w; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      picture.Set(x, y,
                  {static_cast<uint8_t>((pixel & image->red_mask) >> red),
                   static_cast<uint8_t>((pixel & image->green_mask) >> green),
                   static_cast<uint8_t>((pixel & image->blue_mask) >> blue)});
    }
  }
  XDestroyImage(image);
  return picture;
}

Window ScreenView::MapPlainWindow(const SDL_Rect& rect, Rgb colour) {
  const unsigned long pixel =
      static_cast<unsigned long>(colour.r) << 16 | static_cast<unsigned long>(colour.g) << 8 | colour.b;
  const Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), rect.x, rect.y,
                                            static_cast<unsigned>(rect.w), static_cast<unsigned>(rect.h), 0, 0, pixel);
  XMapWindow(display_, window);
  return window;
}

void ScreenView::ShowBackdrop(Rgb colour) {
  backdrop_ = MapPlainWindow({0, 0, XvfbServer::kWidth, XvfbServer::kHeight}, colour);
  XLowerWindow(display_, backdrop_);
  XSync(display_, False);
}

void ScreenView::ShowCover(const SDL_Rect& rect, Rgb colour) {
  MapPlainWindow(rect, colour);
  XSync(display_, False);
}

void ScreenView::WatchMappedWindows() {
  XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
  XSync(display_, False);
}

std::optional<ScreenView::MappedWindow> ScreenView::WaitForMappedWindow(int width, int height,
                                                                        std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type != MapNotify) continue;
      XWindowAttributes attributes;
      if (XGetWindowAttributes(display_, event.xmap.window, &attributes) != 0 && attributes.width == width &&
          attributes.height == height) {
        return MappedWindow{event.xmap.window, {attributes.x, attributes.y, attributes.width, attributes.height}};
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(left.count()));
  }
}

void ScreenView::RequestClose(Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

bool ScreenView::WaitUntil(const SDL_Rect& rect, const std::function<bool(const Picture&)>& shows,
                           std::chrono::milliseconds timeout, const std::function<void()>& between) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (shows(Grab(rect))) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (between) between();
  }
}

}  // namespace guitest
