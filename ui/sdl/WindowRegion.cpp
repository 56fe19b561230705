#include "ui/sdl/WindowRegion.h"

#include <algorithm>

WindowRegion::WindowRegion(int width, int height)
    : width_(std::max(width, 0)),
      rows_(static_cast<size_t>(std::max(height, 0)),
            width > 0 ? std::vector<RegionSpan>{{0, width}} : std::vector<RegionSpan>{}) {}

bool WindowRegion::Contains(int x, int y) const {
  if (y < 0 || y >= height()) return false;
  const std::vector<RegionSpan>& row = Row(y);
  return std::any_of(row.begin(), row.end(), [x](const RegionSpan& span) { return x >= span.x0 && x < span.x1; });
}

bool WindowRegion::IsEmpty() const {
  return std::all_of(rows_.begin(), rows_.end(), [](const std::vector<RegionSpan>& row) { return row.empty(); });
}

void WindowRegion::Remove(int y, int x0, int x1) {
  std::vector<RegionSpan> kept;
  for (const RegionSpan& span : rows_[static_cast<size_t>(y)]) {
    if (span.x1 <= x0 || span.x0 >= x1) {
      kept.push_back(span);
      continue;
    }
    if (span.x0 < x0) kept.push_back({span.x0, x0});
    if (span.x1 > x1) kept.push_back({x1, span.x1});
  }
  rows_[static_cast<size_t>(y)] = std::move(kept);
}

WindowRegion BuildWindowRegion(const Picture& picture) {
  WindowRegion region(picture.width, picture.height);
  for (int y = 0; y < picture.height; ++y) {
    int x = 0;
    while (x < picture.width) {
      if (!picture.IsWhite(x, y)) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < picture.width && picture.IsWhite(x, y)) ++x;
      region.Remove(y, start, x);
    }
  }
  return region;
}
