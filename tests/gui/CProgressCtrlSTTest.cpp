#include <gtest/gtest.h>

#include "tests/gui/PictureRows.h"
#include "ui/sdl/CProgressCtrlST.h"
#include "ui/sdl/SdlSurface.h"

namespace {

TEST(CProgressCtrlSTTest, LauncherBarFillsByTheAbsoluteLowerBoundPlusThePosition) {
  // Range 1 to 100 in a 321 x 17 bar: the inner area is 319 x 15 at (1, 1),
  // the percentage truncate((1 + pos) x 100 / 99), the width
  // truncate(3.19 x percentage), cut 1 pixel short of the inner right edge
  // once it would pass it.
  CProgressCtrlST bar;
  bar.SetRange(1, 100);
  const struct {
    int pos;
    int width;
  } cases[] = {{1, 6}, {2, 9}, {50, 162}, {97, 312}, {98, 319}, {99, 318}, {100, 318}};
  for (const auto& c : cases) {
    bar.SetPos(c.pos);
    const SDL_Rect fill = bar.FillRect(321, 17);
    EXPECT_EQ(fill.w, c.width) << "pos " << c.pos;
    EXPECT_EQ(fill.x, 1);
    EXPECT_EQ(fill.y, 1);
    EXPECT_EQ(fill.h, 15);
  }
}

TEST(CProgressCtrlSTTest, NegativeLowerBoundStartsEmpty) {
  CProgressCtrlST bar;
  bar.SetRange(-50, 50);
  const struct {
    int pos;
    int width;
  } cases[] = {{-50, 0}, {0, 50}, {50, 100}};
  for (const auto& c : cases) {
    bar.SetPos(c.pos);
    EXPECT_EQ(bar.FillRect(102, 10).w, c.width) << "pos " << c.pos;
  }
}

TEST(CProgressCtrlSTTest, PositionIsClampedToTheRangeAndEqualBoundsGiveRangeOne) {
  CProgressCtrlST bar;
  bar.SetRange(1, 100);
  EXPECT_EQ(bar.range(), 99);
  const struct {
    int requested;
    int pos;
  } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {42, 42}, {100, 100}, {250, 100}};
  for (const auto& c : cases) {
    bar.SetPos(c.requested);
    EXPECT_EQ(bar.pos(), c.pos) << c.requested;
  }
  bar.SetRange(5, 5);
  EXPECT_EQ(bar.range(), 1);
  bar.SetRange(10, 4);
  EXPECT_EQ(bar.range(), 6);
}

TEST(CProgressCtrlSTTest, SetBitmapRefusesAPictureWithoutSize) {
  CProgressCtrlST bar;
  EXPECT_EQ(bar.SetBitmap(Picture(3, 2, {1, 2, 3})), 0);
  EXPECT_TRUE(bar.hasBitmap());
  EXPECT_EQ(bar.SetBitmap(Picture()), 1);
  EXPECT_FALSE(bar.hasBitmap());
}

TEST(CProgressCtrlSTTest, PaintTilesThePictureFromTheFillCornerOnDarkGrey) {
  CProgressCtrlST bar;
  bar.SetRange(0, 100);
  bar.SetPos(50);  // 50 % of the inner 10 pixels
  ASSERT_EQ(bar.SetBitmap(guitest::PictureFromRows({"rg", "b#"})), 0);
  SurfacePtr target = SurfaceFromPicture(Picture(14, 7, {200, 200, 200}));
  ASSERT_TRUE(target);
  bar.Paint(target.get(), SDL_Rect{1, 1, 12, 5});  // inner area (2, 2) to (12, 5)
  const Picture shown = PictureFromSurface(target.get());

  const Rgb grey = CProgressCtrlST::kBackground;
  const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, black{0, 0, 0}, outside{200, 200, 200};
  const struct {
    int x, y;
    Rgb colour;
  } cases[] = {
      {0, 0, outside}, {13, 6, outside},                               // beyond the client area
      {1, 1, grey},    {12, 5, grey},    {2, 1, grey},                 // its border pixel
      {2, 2, red},     {3, 2, green},    {4, 2, red},  {6, 2, red},    // first row of tiles
      {2, 3, blue},    {3, 3, black},    {2, 4, red},  {3, 4, green},  // the next tile row
      {7, 2, grey},    {7, 4, grey},                                   // past the 5-pixel fill
  };
  for (const auto& c : cases) EXPECT_EQ(shown.At(c.x, c.y), c.colour) << c.x << "," << c.y;
}

}  // namespace
