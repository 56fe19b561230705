// Draws the main window's face from its view: the background picture, the
// text controls at their positions in red with the window font (each control
// first filled with the background under it, in the dialog's order, so a
// later control covers an earlier one where they overlap: the percentage
// 1020 covers its label 1019, which shares its origin), and the skinned
// progress bar with range 1 to 100.
//
// Thread: the thread that draws the windows.
#pragma once

#include <SDL.h>

#include "ui/MainWindowView.h"
#include "ui/sdl/CProgressCtrlST.h"
#include "ui/sdl/SdlSurface.h"

class WindowFont;

class MainWindowCanvas {
 public:
  // Text colour of the controls.
  static constexpr SDL_Color kTextColour{255, 0, 0, 255};
  // Cell height of the controls' font.
  static constexpr int kFontHeight = 18;

  // `font` must outlive the canvas; `background` is the window's size.
  MainWindowCanvas(const Picture& background, Picture progressFill, const WindowFont& font);

  // The position of a text control or of the progress bar (IDC_PROGRESS)
  // in the window; an empty rectangle for other ids.
  static SDL_Rect ControlRect(int id);

  // Draws `view` into `frame`, an ARGB surface of the background's size.
  void Draw(const MainWindowView& view, SDL_Surface* frame);

 private:
  SurfacePtr background_;
  CProgressCtrlST progress_;
  const WindowFont& font_;
};
