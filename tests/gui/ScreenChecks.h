// What the tests look for in screenshots. Each check returns a description
// of what is wrong, empty when the screenshot passes.
#pragma once

#include <SDL.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/sdl/Picture.h"

namespace guitest {

// Text of the main window's controls: pure red antialiased over the dark panel.
bool IsRed(Rgb c);

// The smallest rectangle (in `shot`'s coordinates) holding every pixel of
// `area` that `wanted` accepts; nothing when there is none.
std::optional<SDL_Rect> BoundsOf(const Picture& shot, const SDL_Rect& area, const std::function<bool(Rgb)>& wanted);

// `shot` shows the window face `face`: its exactly white pixels show what
// `behind` shows there, its other pixels are the face's own, except in the
// rectangles `drawnOver` where controls draw. All three pictures have the
// face's size.
std::string ShowsFace(const Picture& shot, const Picture& face, const Picture& behind,
                      const std::vector<SDL_Rect>& drawnOver);

// The main window stands at `at` in the screenshot `shot` (of the screen's
// top-left corner) and shows its background, with `backdrop` in its holes
// (texts may be drawn anywhere in their controls and rooms).
std::string ShowsMainWindow(const Picture& shot, SDL_Point at, Rgb backdrop);

// `shot` shows a button picture `face` through `mask` (same size): where
// the mask is not white, the face's pixel.
std::string ShowsButton(const Picture& shot, const Picture& face, const Picture& mask);

}  // namespace guitest
