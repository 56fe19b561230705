// The outline of a window or a button cut from a picture: per pixel row, the
// runs of pixels that belong to the region. Pure data; any thread.
#pragma once

#include <vector>

#include "ui/sdl/Picture.h"

// Pixels x0 to x1 - 1 of a row.
struct RegionSpan {
  int x0 = 0;
  int x1 = 0;
  bool operator==(const RegionSpan&) const = default;
};

class WindowRegion {
 public:
  // The full rectangle (0, 0, width, height).
  WindowRegion(int width, int height);

  int width() const { return width_; }
  int height() const { return static_cast<int>(rows_.size()); }
  // The spans of row y (0 <= y < height), left to right, not touching.
  const std::vector<RegionSpan>& Row(int y) const { return rows_[static_cast<size_t>(y)]; }
  // False for points outside the rectangle.
  bool Contains(int x, int y) const;
  bool IsEmpty() const;

  // Removes the pixels x0 to x1 - 1 of row y, which lie inside the rectangle.
  void Remove(int y, int x0, int x1);

 private:
  int width_;
  std::vector<std::vector<RegionSpan>> rows_;
};

// The window's shape from its picture: the picture's rectangle with every run
// of exactly white pixels of a row taken out (combined with exclusive-or, and
// the runs lie inside the rectangle and do not overlap, so they become
// holes); a run still open at the end of a row ends there. A picture without
// white pixels gives the full rectangle, an all-white one an empty region.
// The mask of a skinned button gives its region by the same rule: its pixels
// that are not exactly white.
WindowRegion BuildWindowRegion(const Picture& picture);
