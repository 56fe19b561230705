#include "tests/gui/ScreenChecks.h"

#include <algorithm>

#include "ui/MainWindowView.h"
#include "ui/sdl/MainWindowCanvas.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/PictureResource.h"

namespace guitest {

namespace {

bool Inside(const std::vector<SDL_Rect>& rects, int x, int y) {
  const SDL_Point point{x, y};
  return std::any_of(rects.begin(), rects.end(), [&](const SDL_Rect& rect) { return SDL_PointInRect(&point, &rect); });
}

std::string Describe(const char* what, int x, int y, Rgb shown, Rgb wanted) {
  return std::string(what) + " at " + std::to_string(x) + "," + std::to_string(y) + ": shows " +
         std::to_string(shown.r) + "," + std::to_string(shown.g) + "," + std::to_string(shown.b) + " instead of " +
         std::to_string(wanted.r) + "," + std::to_string(wanted.g) + "," + std::to_string(wanted.b);
}

}  // namespace

bool IsRed(Rgb c) { return c.r >= 128 && c.g <= 80 && c.b <= 80; }

std::optional<SDL_Rect> BoundsOf(const Picture& shot, const SDL_Rect& area, const std::function<bool(Rgb)>& wanted) {
  int left = area.x + area.w, top = area.y + area.h, right = area.x - 1, bottom = area.y - 1;
  for (int y = area.y; y < area.y + area.h; ++y) {
    for (int x = area.x; x < area.x + area.w; ++x) {
      if (!wanted(shot.At(x, y))) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < left) return std::nullopt;
  return SDL_Rect{left, top, right - left + 1, bottom - top + 1};
}

std::string ShowsFace(const Picture& shot, const Picture& face, const Picture& behind,
                      const std::vector<SDL_Rect>& drawnOver) {
  if (shot.width != face.width || shot.height != face.height) return "screenshot of another size";
  std::string first;
  int wrong = 0;
  for (int y = 0; y < face.height; ++y) {
    for (int x = 0; x < face.width; ++x) {
      const bool hole = face.IsWhite(x, y);
      if (!hole && Inside(drawnOver, x, y)) continue;
      const Rgb wanted = hole ? behind.At(x, y) : face.At(x, y);
      if (shot.At(x, y) == wanted) continue;
      if (wrong++ == 0) first = Describe(hole ? "hole" : "face", x, y, shot.At(x, y), wanted);
    }
  }
  if (wrong == 0) return {};
  return first + " and " + std::to_string(wrong - 1) + " more";
}

std::string ShowsMainWindow(const Picture& shot, SDL_Point at, Rgb backdrop) {
  const std::optional<Picture> face = LoadPictureResource(IDB_MAIN_BACKGROUND);
  if (!face) return "no background picture";
  Picture window(face->width, face->height);
  for (int y = 0; y < face->height; ++y) {
    for (int x = 0; x < face->width; ++x) window.Set(x, y, shot.At(at.x + x, at.y + y));
  }
  std::vector<SDL_Rect> controls{MainWindowCanvas::ControlRect(IDC_PROGRESS)};
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) {
    controls.push_back(MainWindowCanvas::ControlRect(id));
    controls.push_back(MainWindowCanvas::TextRoom(id));
  }
  return ShowsFace(window, *face, Picture(face->width, face->height, backdrop), controls);
}

std::string ShowsButton(const Picture& shot, const Picture& face, const Picture& mask) {
  int wrong = 0;
  std::string first;
  for (int y = 0; y < face.height; ++y) {
    for (int x = 0; x < face.width; ++x) {
      if (mask.IsWhite(x, y) || shot.At(x, y) == face.At(x, y)) continue;
      if (wrong++ == 0) first = Describe("button", x, y, shot.At(x, y), face.At(x, y));
    }
  }
  if (wrong == 0) return {};
  return first + " and " + std::to_string(wrong - 1) + " more";
}

}  // namespace guitest
