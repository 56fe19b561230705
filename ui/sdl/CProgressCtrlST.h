// The skinned progress bar: a dark grey bar whose filled part is tiled with a
// picture. It keeps its own range and position; Paint draws it. The
// launcher's bar is horizontal and has no border, no caption and a step of 0
// (the window logic computes the position, so the bar never steps).
//
// Thread: the thread that draws the window.
#pragma once

#include <SDL.h>

#include "ui/sdl/Picture.h"

class CProgressCtrlST {
 public:
  // The dark grey of the unfilled bar.
  static constexpr Rgb kBackground{62, 60, 58};

  // Stores the bounds; the range is |upper - lower|, 1 when that is 0.
  void SetRange(int lower, int upper);
  // The position, clamped to [lower, upper].
  void SetPos(int position);
  // Takes the fill picture. Returns 1 (and keeps no picture) when the
  // picture has no size, 0 otherwise.
  int SetBitmap(Picture picture);

  int lower() const { return lower_; }
  int upper() const { return upper_; }
  int range() const { return range_; }
  int pos() const { return pos_; }
  bool hasBitmap() const { return !bitmap_.empty(); }

  // The part of a client area of `width` x `height` pixels that the picture
  // fills: the area shrunk by 1 pixel on each side, filled from its left
  // edge over truncate(inner width / 100 x percentage) pixels, where the
  // percentage is truncate((|lower| + pos) x 100 / range). The absolute lower
  // bound is added to the position, not subtracted: with the range 1 to 100
  // the fill can pass the inner right edge, and then it stops 1 pixel short
  // of it.
  SDL_Rect FillRect(int width, int height) const;

  // Draws the bar into `client` of `target` (a surface of any RGB format):
  // the dark grey background, then the picture tiled from the fill area's
  // top-left corner and cut at its edges.
  void Paint(SDL_Surface* target, const SDL_Rect& client) const;

 private:
  int lower_ = 0;
  int upper_ = 100;
  int range_ = 100;
  int pos_ = 0;
  Picture bitmap_;
};
