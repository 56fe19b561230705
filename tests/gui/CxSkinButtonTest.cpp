#include <gtest/gtest.h>

#include "tests/gui/PictureRows.h"
#include "ui/sdl/CxSkinButton.h"

namespace {

using guitest::PictureFromRows;
using Look = CxSkinButton::Look;

// A 4 x 3 button at (10, 20) whose mask leaves out the top corners.
class CxSkinButtonTest : public testing::Test {
 protected:
  void SetUp() override {
    button.MoveWindow({10, 20, 4, 3});
    button.SetSkin({PictureFromRows({"rrrr", "rrrr", "rrrr"}), PictureFromRows({"bbbb", "bbbb", "bbbb"}),
                    PictureFromRows({"gggg", "gggg", "gggg"}), PictureFromRows({".##.", "####", "####"})});
  }
  CxSkinButton button;
};

TEST_F(CxSkinButtonTest, OnlyTheMaskedPixelsOfTheRectangleAreTheButton) {
  const struct {
    int x, y;
    bool hit;
  } cases[] = {{11, 20, true}, {13, 22, true},  {10, 20, false}, {13, 20, false},
               {9, 21, false}, {14, 21, false}, {11, 23, false}};
  for (const auto& c : cases) EXPECT_EQ(button.HitTest(c.x, c.y), c.hit) << c.x << "," << c.y;
}

TEST_F(CxSkinButtonTest, LooksAndClicksFollowThePointer) {
  enum Step { kMove, kDown, kUp, kLeave };
  const struct {
    const char* name;
    std::vector<std::tuple<Step, int, int>> steps;
    Look look;
    bool click;  // the last release was a click
  } cases[] = {
      {"hover", {{kMove, 11, 21}}, Look::kHover, false},
      {"hover ends on a masked-out corner", {{kMove, 11, 21}, {kMove, 10, 20}}, Look::kNormal, false},
      {"hover ends when the pointer leaves", {{kMove, 11, 21}, {kLeave, 0, 0}}, Look::kNormal, false},
      {"held", {{kDown, 11, 21}}, Look::kPressed, false},
      {"held off the button", {{kDown, 11, 21}, {kMove, 30, 30}}, Look::kNormal, false},
      {"held back on the button", {{kDown, 11, 21}, {kMove, 30, 30}, {kMove, 12, 22}}, Look::kPressed, false},
      {"click", {{kDown, 11, 21}, {kUp, 12, 22}}, Look::kHover, true},
      {"release off the button", {{kDown, 11, 21}, {kMove, 30, 30}, {kUp, 30, 30}}, Look::kNormal, false},
      {"press on a corner", {{kDown, 10, 20}, {kMove, 11, 21}, {kUp, 11, 21}}, Look::kHover, false},
      {"double click", {{kDown, 11, 21}, {kUp, 11, 21}, {kDown, 11, 21}, {kUp, 11, 21}}, Look::kHover, true},
  };
  for (const auto& c : cases) {
    SetUp();
    bool click = false;
    for (const auto& [step, x, y] : c.steps) {
      switch (step) {
        case kMove: button.OnMouseMove(x, y); break;
        case kDown: button.OnButtonDown(x, y); break;
        case kUp: click = button.OnButtonUp(x, y); break;
        case kLeave: button.OnMouseLeave(); break;
      }
    }
    EXPECT_EQ(button.look(), c.look) << c.name;
    EXPECT_EQ(click, c.click) << c.name;
  }
}

TEST_F(CxSkinButtonTest, PaintShowsTheLookThroughTheMask) {
  const Rgb behind{7, 7, 7}, red{255, 0, 0}, blue{0, 0, 255}, green{0, 255, 0};
  for (const auto& [look, face] : {std::pair{Look::kNormal, red}, {Look::kHover, green}, {Look::kPressed, blue}}) {
    SetUp();
    if (look != Look::kNormal) button.OnMouseMove(11, 21);
    if (look == Look::kPressed) button.OnButtonDown(11, 21);
    ASSERT_EQ(button.look(), look);
    SurfacePtr target = SurfaceFromPicture(Picture(16, 24, behind));
    button.Paint(target.get());
    const Picture shown = PictureFromSurface(target.get());
    EXPECT_EQ(shown.At(10, 20), behind);  // white in the mask
    EXPECT_EQ(shown.At(13, 20), behind);
    EXPECT_EQ(shown.At(11, 20), face);
    EXPECT_EQ(shown.At(10, 22), face);
    EXPECT_EQ(shown.At(14, 22), behind);  // right of the rectangle
  }
}

TEST_F(CxSkinButtonTest, WithoutHoverPictureThePointerKeepsTheNormalLook) {
  button.SetSkin({PictureFromRows({"rr"}), PictureFromRows({"bb"}), Picture(), Picture()});
  button.OnMouseMove(11, 21);
  EXPECT_EQ(button.look(), Look::kNormal);
  EXPECT_TRUE(button.HitTest(10, 20));  // no mask: the whole rectangle
}

TEST_F(CxSkinButtonTest, PicturesAreStretchedOverTheRectangle) {
  button.MoveWindow({0, 0, 4, 2});
  button.SetSkin({PictureFromRows({"rb"}), PictureFromRows({"rb"}), Picture(), PictureFromRows({"#."})});
  SurfacePtr target = SurfaceFromPicture(Picture(4, 2, {7, 7, 7}));
  button.Paint(target.get());
  const Picture shown = PictureFromSurface(target.get());
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(shown.At(0, y), (Rgb{255, 0, 0}));
    EXPECT_EQ(shown.At(1, y), (Rgb{255, 0, 0}));
    EXPECT_EQ(shown.At(2, y), (Rgb{7, 7, 7}));  // the mask's white half
    EXPECT_EQ(shown.At(3, y), (Rgb{7, 7, 7}));
  }
  EXPECT_TRUE(button.HitTest(1, 1));
  EXPECT_FALSE(button.HitTest(2, 0));
}

TEST_F(CxSkinButtonTest, AllWhiteMaskCannotBeSeenOrClicked) {
  button.SetSkin(
      {PictureFromRows({"rr", "rr"}), PictureFromRows({"bb", "bb"}), Picture(), PictureFromRows({"..", ".."})});
  SurfacePtr target = SurfaceFromPicture(Picture(16, 24, {7, 7, 7}));
  button.Paint(target.get());
  const Picture shown = PictureFromSurface(target.get());
  for (int y = 20; y < 23; ++y) {
    for (int x = 10; x < 14; ++x) {
      EXPECT_FALSE(button.HitTest(x, y));
      EXPECT_EQ(shown.At(x, y), (Rgb{7, 7, 7}));
    }
  }
  button.OnButtonDown(11, 21);
  EXPECT_FALSE(button.OnButtonUp(11, 21));
}

}  // namespace
