#include <gtest/gtest.h>

#include "tests/gui/PictureRows.h"
#include "ui/sdl/WindowRegion.h"

namespace {

using guitest::PictureFromRows;
using Spans = std::vector<RegionSpan>;

TEST(WindowRegionTest, ExactlyWhiteRunsOfARowBecomeHoles) {
  const struct {
    const char* row;
    Spans spans;
  } cases[] = {
      {"####", {{0, 4}}},          // no white: the full row
      {"#..#", {{0, 1}, {3, 4}}},  // a run inside the row
      {"##..", {{0, 2}}},          // a run still open at the row's end
      {"..##", {{2, 4}}},
      {".#.#", {{1, 2}, {3, 4}}},  // several runs
      {"....", {}},                // all white: nothing left
      {"nn.n", {{0, 2}, {3, 4}}},  // almost white is not a hole
  };
  for (const auto& c : cases) {
    const WindowRegion region = BuildWindowRegion(PictureFromRows({c.row}));
    EXPECT_EQ(region.Row(0), c.spans) << c.row;
  }
}

TEST(WindowRegionTest, ContainsFollowsTheRowsAndNothingOutsideTheRectangle) {
  const WindowRegion region = BuildWindowRegion(PictureFromRows({
      ".##.",
      "####",
      "#..#",
  }));
  EXPECT_FALSE(region.IsEmpty());
  EXPECT_FALSE(region.Contains(0, 0));
  EXPECT_TRUE(region.Contains(1, 0));
  EXPECT_TRUE(region.Contains(0, 1));
  EXPECT_TRUE(region.Contains(3, 1));
  EXPECT_FALSE(region.Contains(1, 2));
  EXPECT_TRUE(region.Contains(3, 2));
  for (const auto& [x, y] : {std::pair{-1, 1}, {4, 1}, {0, -1}, {0, 3}})
    EXPECT_FALSE(region.Contains(x, y)) << x << "," << y;
}

TEST(WindowRegionTest, AllWhitePictureGivesAnEmptyRegionAndNoWhiteTheFullRectangle) {
  EXPECT_TRUE(BuildWindowRegion(PictureFromRows({"...", "..."})).IsEmpty());
  const WindowRegion full = BuildWindowRegion(Picture(5, 3, {10, 20, 30}));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(full.Row(y), (Spans{{0, 5}}));
}

}  // namespace
