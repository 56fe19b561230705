// Draws the main window's face from its view: the background picture, the
// text controls in red with the window font, and the skinned progress bar
// with range 1 to 100.
//
// Each text starts at its control's position and may use the free part of
// the dark panel to the right of the control, up to 4 pixels before the
// next text of its row or the panel's edge: its room. A text that does not
// fit in its room at the normal size takes a smaller size, and at the
// smallest ends with "…" (TextFit.h). Rooms are filled with the background
// under them in the dialog's order before their text is drawn, so the
// percentage 1020 covers its label 1019, which shares its origin, as the
// dialog's controls do.
//
// Thread: the thread that draws the windows.
#pragma once

#include <SDL.h>

#include "ui/MainWindowView.h"
#include "ui/sdl/CProgressCtrlST.h"
#include "ui/sdl/SdlSurface.h"
#include "ui/sdl/TextFit.h"

class FontLadder;

class MainWindowCanvas {
 public:
  // Text colour of the controls.
  static constexpr SDL_Color kTextColour{255, 0, 0, 255};
  // Cell heights of the controls' font: the normal size, then the sizes a
  // text takes when it does not fit.
  static constexpr int kFontHeights[] = {18, 17, 16};

  // `fonts` (in kFontHeights) must outlive the canvas; `background` is the
  // window's size.
  MainWindowCanvas(const Picture& background, Picture progressFill, const FontLadder& fonts);

  // The position of a text control or of the progress bar (IDC_PROGRESS)
  // in the window; an empty rectangle for other ids.
  static SDL_Rect ControlRect(int id);
  // The room of a text control's text; an empty rectangle for other ids.
  static SDL_Rect TextRoom(int id);

  // How `text` is drawn in the room of control `id`.
  FittedText Fit(int id, std::string_view text) const;

  // Draws `view` into `frame`, an ARGB surface of the background's size.
  void Draw(const MainWindowView& view, SDL_Surface* frame);

 private:
  SurfacePtr background_;
  CProgressCtrlST progress_;
  const FontLadder& fonts_;
};
