#include <gtest/gtest.h>

#include "ui/MainWindowView.h"
#include "ui/sdl/MainWindowCanvas.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/PictureResource.h"
#include "ui/sdl/TovaMsgBox.h"
#include "ui/sdl/WindowRegion.h"

namespace {

TEST(PictureResourceTest, EveryPictureHasTheSizeOfItsResource) {
  const struct {
    int id;
    PictureSize size;
  } cases[] = {
      {IDI_MAIN_ICON, kIconSize},
      {IDB_MAIN_BACKGROUND, kMainBackgroundSize},
      {IDB_PROGRESS_FILL, kProgressFillSize},
      {IDB_BOX_BACKGROUND, kBoxBackgroundSize},
      {IDB_BOX_NO_NORMAL, kBoxButtonSize},
      {IDB_BOX_YES_NORMAL, kBoxButtonSize},
      {IDB_BOX_NO_MASK, kBoxButtonSize},
      {IDB_BOX_NO_PRESSED, kBoxButtonSize},
      {IDB_BOX_YES_MASK, kBoxButtonSize},
      {IDB_BOX_YES_PRESSED, kBoxButtonSize},
  };
  for (const auto& c : cases) {
    const std::optional<Picture> picture = LoadPictureResource(c.id);
    ASSERT_TRUE(picture) << c.id;
    EXPECT_EQ(picture->width, c.size.width) << c.id;
    EXPECT_EQ(picture->height, c.size.height) << c.id;
  }
  EXPECT_FALSE(LoadPictureResource(0));
  EXPECT_FALSE(LoadPictureResource(133));
}

// Every pixel of `rect` belongs to the region.
bool Covers(const WindowRegion& region, const SDL_Rect& rect) {
  for (int y = rect.y; y < rect.y + rect.h; ++y) {
    for (int x = rect.x; x < rect.x + rect.w; ++x) {
      if (!region.Contains(x, y)) return false;
    }
  }
  return true;
}

TEST(PictureResourceTest, WindowShapesKeepTheirControlsAndHaveHoles) {
  const WindowRegion main = BuildWindowRegion(*LoadPictureResource(IDB_MAIN_BACKGROUND));
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) {
    EXPECT_TRUE(Covers(main, MainWindowCanvas::ControlRect(id))) << id;
  }
  EXPECT_TRUE(Covers(main, MainWindowCanvas::ControlRect(IDC_PROGRESS)));
  EXPECT_FALSE(main.Contains(0, 0));

  const WindowRegion box = BuildWindowRegion(*LoadPictureResource(IDB_BOX_BACKGROUND));
  for (const SDL_Rect& rect : {TovaMsgBox::kCaptionRect, TovaMsgBox::kTextRect}) EXPECT_TRUE(Covers(box, rect));
  for (const SDL_Point at : {TovaMsgBox::kYesButtonAt, TovaMsgBox::kNoButtonAt}) {
    EXPECT_TRUE(Covers(box, {at.x, at.y, kBoxButtonSize.width, kBoxButtonSize.height}));
  }
  EXPECT_FALSE(box.Contains(0, 0));
}

}  // namespace
