// A picture button: one picture per look (normal, pressed, hover), drawn
// stretched over the button's rectangle through a mask picture. The mask's
// pixels that are not exactly white are the button; its white pixels neither
// show nor take the mouse. The button has no caption and no check mode.
//
// The owner window forwards its mouse events in its own coordinates and
// draws the button with Paint. Thread: the owner window's thread.
#pragma once

#include <SDL.h>

#include <optional>

#include "ui/sdl/Picture.h"
#include "ui/sdl/SdlSurface.h"
#include "ui/sdl/WindowRegion.h"

class CxSkinButton {
 public:
  struct Skin {
    Picture normal;
    Picture pressed;
    Picture hover;  // empty: no hover look
    Picture mask;   // empty: the whole rectangle is the button
  };
  enum class Look { kNormal, kPressed, kHover };

  // Places the button in its owner; the pictures are stretched to the
  // rectangle (the message box gives each button its normal picture's size).
  void MoveWindow(const SDL_Rect& rect);
  const SDL_Rect& rect() const { return rect_; }

  // Takes the pictures and, when there is a mask, the region made from it.
  void SetSkin(Skin skin);
  // The same with built-in pictures by resource number; hover and mask may be
  // 0 (none). False, with the skin unchanged, when a picture cannot be loaded.
  bool SetSkin(int normal, int pressed, int hover, int mask);

  // The point, in the owner's coordinates, lies on the button: inside its
  // rectangle and its mask region.
  bool HitTest(int x, int y) const;

  // Mouse events in the owner's coordinates. A press on the button holds it;
  // while held it looks pressed only while the pointer is on it; a release
  // on the button after a press on it is a click (OnButtonUp returns true).
  // A second press of a double click is a press like the first.
  void OnMouseMove(int x, int y);
  void OnButtonDown(int x, int y);
  bool OnButtonUp(int x, int y);
  // The pointer left the owner window.
  void OnMouseLeave();

  // Pressed while held with the pointer on the button; else hover while the
  // pointer is on it and there is a hover picture; else normal.
  Look look() const;

  // Draws the look's picture into `target` at the button's rectangle; where
  // the mask is white, `target` keeps what it shows.
  void Paint(SDL_Surface* target) const;

 private:
  // The mask pixel under a point of the rectangle (x, y relative to it).
  bool OnMask(int x, int y) const;
  // The look's picture stretched to the rectangle, transparent off the mask.
  SurfacePtr Compose(const Picture& face) const;
  void Recompose();

  SDL_Rect rect_{0, 0, 0, 0};
  Skin skin_;
  std::optional<WindowRegion> region_;  // from the mask
  SurfacePtr normalFace_;
  SurfacePtr pressedFace_;
  SurfacePtr hoverFace_;
  bool over_ = false;
  bool held_ = false;
};
