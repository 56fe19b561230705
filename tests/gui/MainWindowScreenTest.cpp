// The main window on a real X server: its shape, its texts and its progress
// bar as the screen shows them, dragging, and the keys.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "tests/gui/GuiFixture.h"
#include "tests/gui/ScreenChecks.h"
#include "ui/StatusTexts.h"
#include "ui/TextFormat.h"
#include "ui/sdl/CProgressCtrlST.h"
#include "ui/sdl/FontLadder.h"
#include "ui/sdl/MainWindowCanvas.h"
#include "ui/sdl/PictureResource.h"
#include "ui/sdl/SdlSurface.h"
#include "ui/sdl/WindowRegion.h"

namespace guitest {
namespace {

constexpr SDL_Rect kMainWindow{0, 0, kMainBackgroundSize.width, kMainBackgroundSize.height};

std::string ShowsMainFace(const Picture& shot, SDL_Point at = {0, 0}) { return ShowsMainWindow(shot, at, kBackdrop); }

TEST_F(GuiTest, HolesShowWhatLiesBehindAndTheRestIsTheBackground) {
  const std::optional<Picture> face = LoadPictureResource(IDB_MAIN_BACKGROUND);
  ASSERT_TRUE(face);
  const WindowRegion region = BuildWindowRegion(*face);
  ASSERT_FALSE(region.IsEmpty());
  ASSERT_FALSE(region.Contains(0, 0)) << "the picture has no hole at its corner";

  EXPECT_EQ(WaitForScreen(kMainWindow, [](const Picture& shot) { return ShowsMainFace(shot); }), "");
  const SDL_Rect bounds = frontEnd->MainWindowBounds();
  EXPECT_EQ(bounds.x, 0);
  EXPECT_EQ(bounds.y, 0);
  EXPECT_EQ(bounds.w, 725);
  EXPECT_EQ(bounds.h, 400);
}

// Red pixels only inside the rooms of the controls that have a text, each
// text starting at its control's left edge near its top; nothing red
// elsewhere.
std::string ShowsTextsAt(const Picture& shot, const MainWindowView& view) {
  std::vector<SDL_Rect> written;
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) {
    const SDL_Rect rect = MainWindowCanvas::TextRoom(id);
    const std::optional<SDL_Rect> red = BoundsOf(shot, rect, IsRed);
    // The percentage 1020 covers its label 1019, which has the same origin.
    if (id == IDC_PROGRESS_LABEL) continue;
    if (view.Text(id).empty()) continue;
    written.push_back(rect);
    const std::string name = "control " + std::to_string(id) + " \"" + view.Text(id) + "\"";
    if (!red) return name + " shows no red text";
    if (red->x > rect.x + 3) return name + " starts at x " + std::to_string(red->x);
    if (red->y > rect.y + 8) return name + " starts at y " + std::to_string(red->y);
  }
  written.push_back(MainWindowCanvas::TextRoom(IDC_PROGRESS_LABEL));
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const SDL_Point point{x, y};
      const bool inControl = std::any_of(written.begin(), written.end(),
                                         [&](const SDL_Rect& rect) { return SDL_PointInRect(&point, &rect); });
      if (!inControl && IsRed(shot.At(x, y))) {
        return "red at " + std::to_string(x) + "," + std::to_string(y) + " outside the controls with text";
      }
    }
  }
  return {};
}

TEST_F(GuiTest, TextsAppearInRedAtTheirControlPositions) {
  const std::optional<Picture> face = LoadPictureResource(IDB_MAIN_BACKGROUND);
  ASSERT_TRUE(face);
  ASSERT_FALSE(BoundsOf(*face, kMainWindow, IsRed)) << "the background itself has red pixels";

  // When the self-update starts, only the status line has a text.
  Send(UM_SELFPATCH_START);
  ASSERT_EQ(dlg->view().Text(IDC_STATUS), "バージョン検索中...");
  EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return ShowsTextsAt(shot, dlg->view()); }), "");

  SendPatchInProgress();
  ASSERT_EQ(dlg->view().Text(IDC_PERCENT), "45.00%");
  ASSERT_EQ(dlg->view().Text(IDC_COUNT), "2/3");
  EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return ShowsTextsAt(shot, dlg->view()); }), "");
  EXPECT_EQ(WaitForScreen(kMainWindow, [](const Picture& shot) { return ShowsMainFace(shot); }), "");
  SaveScreenshot(screen, kMainWindow, "main-window.png");
}

TEST_F(GuiTest, WithoutOpenGLTheWindowIsStillShapedAndDrawn) {
  dlg.reset();
  frontEnd.reset();
  // SDL loads no OpenGL library from a missing file, so no OpenGL window can be made.
  setenv("SDL_OPENGL_LIBRARY", "/nonexistent/libGL.so.1", 1);
  frontEnd = SdlFrontEnd::Create();
  unsetenv("SDL_OPENGL_LIBRARY");
  ASSERT_TRUE(frontEnd);
  dlg = std::make_unique<CTovaLauncherDlg>(procedures, sink, *frontEnd, false);
  dlg->OnInitDialog();
  Send(UM_SELFPATCH_START);
  EXPECT_EQ(WaitForScreen(kMainWindow, [](const Picture& shot) { return ShowsMainFace(shot); }), "");
  EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return ShowsTextsAt(shot, dlg->view()); }), "");
}

// The bar shows a fill of `width` pixels tiled with the fill picture from
// its inner corner, the rest of it dark grey.
std::string ShowsBar(const Picture& shot, int width, const Picture& fill) {
  const SDL_Rect bar = MainWindowCanvas::ControlRect(IDC_PROGRESS);
  const Rgb grey = CProgressCtrlST::kBackground;
  int filled = 0;
  while (filled < bar.w - 2 && shot.At(bar.x + 1 + filled, bar.y + bar.h / 2) != grey) ++filled;
  if (filled != width) return "fill of " + std::to_string(filled) + " pixels";
  for (int y = 0; y < bar.h; ++y) {
    for (int x = 0; x < bar.w; ++x) {
      const bool inFill = x >= 1 && x < 1 + width && y >= 1 && y < bar.h - 1;
      const Rgb wanted = inFill ? fill.At(x - 1, y - 1) : grey;
      if (shot.At(bar.x + x, bar.y + y) != wanted) {
        return "bar pixel " + std::to_string(x) + "," + std::to_string(y) +
               (inFill ? " is not the picture's" : " is not grey");
      }
    }
  }
  return {};
}

TEST_F(GuiTest, ProgressFillWidthFollowsTheBarRule) {
  const std::optional<Picture> fill = LoadPictureResource(IDB_PROGRESS_FILL);
  ASSERT_TRUE(fill);
  int total = 100;
  Send(UM_UPDATE_FILE_TOTAL, 0, reinterpret_cast<LParam>(&total));
  // Item i of 100 sets the bar to position i; 98 fills the whole inner
  // width, 99 and 100 pass it and stop one pixel short.
  const struct {
    int position;
    int width;
  } cases[] = {{1, 6}, {2, 9}, {50, 162}, {98, 319}, {99, 318}, {100, 318}};
  for (const auto& c : cases) {
    Send(UM_UPDATE_FILE_INDEX, 0, c.position);
    ASSERT_EQ(dlg->view().progressPosition, c.position);
    EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return ShowsBar(shot, c.width, *fill); }), "")
        << "position " << c.position;
  }
}

TEST_F(GuiTest, EscapeLeavesTheStoppedWindowOpenDraggingMovesItAndEnterClosesIt) {
  ASSERT_EQ(WaitForScreen(kMainWindow, [](const Picture& shot) { return ShowsMainFace(shot); }), "");
  // Escape first: were the window closed by it, the drag after it would not
  // be handled. The drag starts on the status line, a control.
  ASSERT_TRUE(Xdotool("mousemove 300 330 key Escape mousedown 1 mousemove 400 390 mouseup 1 key Return"));
  frontEnd->WaitForClose("");
  const SDL_Rect bounds = frontEnd->MainWindowBounds();
  EXPECT_EQ(bounds.x, 100);
  EXPECT_EQ(bounds.y, 60);
  EXPECT_EQ(WaitForScreen({0, 0, 825, 460}, [](const Picture& shot) { return ShowsMainFace(shot, {100, 60}); }), "");
}

// A chain stopped by a failure that only reports: the status line says which
// step failed, the speed and the remaining time are gone, the percentage's
// row says how to close, and Enter closes the window.
TEST_F(GuiTest, AStoppedChainSaysWhichStepFailedAndEnterClosesIt) {
  Send(UM_SELFPATCH_NONEED);  // no game list: the installation
  Send(UM_INSTALL_START);
  SendText(UM_LATEST_VERSION, "1.0.6");
  SendText(UM_CURRENT_VERSION, "1.0.6");
  SendSize(UM_INSTALL_TOTAL_SIZE, "52428800");
  Send(UM_INSTALL_PAGE_COUNT, 0, 3);
  const std::string speed = "1.20M";
  Send(UM_DOWNLOAD_SPEED, 1258291, reinterpret_cast<LParam>(speed.c_str()));
  SendSize(UM_INSTALL_DONE_SIZE, "23592960");
  ASSERT_EQ(dlg->view().Text(IDC_COUNT_LABEL), "残り時間");
  Send(UM_INSTALL_FAIL_DOWN_PAGE);
  ASSERT_TRUE(dlg->chainStopped());
  EXPECT_EQ(dlg->view().Text(IDC_STATUS), kStatusInstallFailed);
  EXPECT_EQ(dlg->view().Text(IDC_PERCENT), kStatusCloseHint);
  EXPECT_EQ(dlg->view().Text(IDC_SPEED), "");
  EXPECT_EQ(dlg->view().Text(IDC_COUNT), "");
  EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return ShowsTextsAt(shot, dlg->view()); }), "");
  SaveScreenshot(screen, kMainWindow, "main-window-stopped.png");

  // Enter, typed until the window has ended: a key read before the window
  // waits for its close is not taken for the close.
  std::atomic<bool> ended = false;
  std::thread user([&] {
    while (!ended && Xdotool("mousemove 300 330 key Return"))
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  EXPECT_EQ(dlg->RunModalLoop(), LauncherOutcome::kStopped);
  ended = true;
  user.join();
}

// The controls whose texts can be seen (the percentage covers its label).
std::vector<int> VisibleTextControls() {
  std::vector<int> ids;
  for (int id = kFirstTextControl; id <= kLastTextControl; ++id) {
    if (id != IDC_PROGRESS_LABEL) ids.push_back(id);
  }
  return ids;
}

std::string Name(int id, const std::string& text) { return "control " + std::to_string(id) + " \"" + text + "\""; }

// The width of the red ink of `line` drawn alone with `font`.
int InkWidth(const WindowFont& font, const std::string& line) {
  const int width = font.Measure(line) + 8;
  SurfacePtr surface = SurfaceFromPicture(Picture(width, 40, {0, 0, 0}));
  if (!surface) return -1;
  font.DrawLine(surface.get(), line, {4, 4}, MainWindowCanvas::kTextColour);
  const std::optional<SDL_Rect> ink = BoundsOf(PictureFromSurface(surface.get()), {0, 0, width, 40}, IsRed);
  return ink ? ink->w : 0;
}

// Every text of `view` is drawn whole, or shortened with "…", inside its
// room without touching the room's right or bottom edge; no red ink outside
// the rooms.
std::string FitsItsRoom(const Picture& shot, const MainWindowView& view, const MainWindowCanvas& canvas,
                        const FontLadder& fonts) {
  std::vector<SDL_Rect> rooms;
  for (const int id : VisibleTextControls()) {
    const std::string& text = view.Text(id);
    if (text.empty()) continue;
    const SDL_Rect room = MainWindowCanvas::TextRoom(id);
    rooms.push_back(room);
    const FittedText fitted = canvas.Fit(id, text);
    if (fitted.lines.size() != 1) return Name(id, text) + " takes " + std::to_string(fitted.lines.size()) + " lines";
    const std::string& line = fitted.lines.front();
    if (fitted.shortened) {
      const std::string kept = line.substr(0, line.size() - kEllipsis.size());
      if (!line.ends_with(kEllipsis) || !text.starts_with(kept)) return Name(id, text) + " shortened to " + line;
    } else if (text.substr(0, text.find_last_not_of(' ') + 1) != line) {
      return Name(id, text) + " drawn as " + line;
    }
    const std::optional<SDL_Rect> ink = BoundsOf(shot, room, IsRed);
    if (!ink) return Name(id, text) + " shows no red text";
    if (ink->x + ink->w >= room.x + room.w || ink->y + ink->h >= room.y + room.h) {
      return Name(id, text) + " is cut at the edge of its room";
    }
    const int wanted = InkWidth(fonts.font(fitted.font), line);
    if (std::abs(ink->w - wanted) > 1) {
      return Name(id, text) + " shows " + std::to_string(ink->w) + " pixels of ink instead of " +
             std::to_string(wanted);
    }
  }
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const SDL_Point point{x, y};
      const bool inRoom =
          std::any_of(rooms.begin(), rooms.end(), [&](const SDL_Rect& room) { return SDL_PointInRect(&point, &room); });
      if (!inRoom && IsRed(shot.At(x, y))) {
        return "red at " + std::to_string(x) + "," + std::to_string(y) + " outside the rooms of the texts";
      }
    }
  }
  return {};
}

TEST_F(GuiTest, EveryStatusTextWithTheLongestNumbersFitsItsRoomWhole) {
  const std::vector<int> ids = VisibleTextControls();
  for (size_t i = 0; i < ids.size(); ++i) {
    const SDL_Rect a = MainWindowCanvas::TextRoom(ids[i]);
    for (size_t j = i + 1; j < ids.size(); ++j) {
      const SDL_Rect b = MainWindowCanvas::TextRoom(ids[j]);
      EXPECT_FALSE(SDL_HasIntersection(&a, &b)) << "rooms of " << ids[i] << " and " << ids[j];
    }
  }
  const std::optional<WindowFont::File> file = WindowFont::Find();
  ASSERT_TRUE(file);
  const std::unique_ptr<FontLadder> fonts =
      FontLadder::Open(*file, {std::begin(MainWindowCanvas::kFontHeights), std::end(MainWindowCanvas::kFontHeights)});
  ASSERT_TRUE(fonts);
  const MainWindowCanvas canvas(*LoadPictureResource(IDB_MAIN_BACKGROUND), *LoadPictureResource(IDB_PROGRESS_FILL),
                                *fonts);

  // 1023.9 MiB of 1023.9 MiB at 1023.9 KiB/s, package 9999 of 9999.
  const std::string size = "1073636966";
  const std::string speed = "1023.9K";
  SendText(UM_LATEST_VERSION, "10.0.1234");
  SendText(UM_CURRENT_VERSION, "10.0.1233");
  SendSize(UM_INSTALL_TOTAL_SIZE, size);
  SendSize(UM_INSTALL_DONE_SIZE, size);
  Send(UM_DOWNLOAD_SPEED, 1048473, reinterpret_cast<LParam>(speed.c_str()));
  Send(UM_GAMEPATCH_COUNT, 0, 9999);
  Send(UM_GAMEPATCH_INDEX, 0, 9999);
  ASSERT_EQ(dlg->view().Text(IDC_PERCENT), "100.00%(1023.9MB/1023.9MB)");
  ASSERT_EQ(dlg->view().Text(IDC_SPEED), "1023.9KB/s");
  ASSERT_EQ(dlg->view().Text(IDC_COUNT), "9999/9999");

  const std::string waiting = FormatText(kStatusWaitingForServer, 6, 6);
  const char* statuses[] = {
      kStatusUpdateBegin,     kStatusUpdateUnpack,       kStatusUpdateAnalyse,    kStatusUpdateCopy,
      kStatusUpdateCleanup,   kStatusPagesUnpacking,     kStatusSearchingVersion, kStatusSearchingUpdate,
      kStatusUpdating,        kStatusDownloadingUpdate,  kStatusUpdateFailed,     kStatusUpdateDone,
      kStatusInstallStarting, kStatusInstallDownloading, kStatusRepairing,        kStatusSelfUpdateFailed,
      kStatusInstallFailed,   kStatusRepairFailed,       kStatusStartFailed,      waiting.c_str(),
  };
  MainWindowView view = dlg->view();
  const auto fitsWhole = [&] {
    frontEnd->Show(view);
    EXPECT_EQ(WaitForScreen(kMainWindow, [&](const Picture& shot) { return FitsItsRoom(shot, view, canvas, *fonts); }),
              "");
    for (const int id : ids) EXPECT_FALSE(canvas.Fit(id, view.Text(id)).shortened) << Name(id, view.Text(id));
  };
  // The status line as the workflow, the game start and a retried download set it.
  for (const char* status : statuses) {
    view.Text(IDC_STATUS) = status;
    fitsWhole();
    if (status == kStatusInstallDownloading) SaveScreenshot(screen, kMainWindow, "main-window-longest-texts.png");
  }
  // A stopped chain says in the percentage's row how to close the window.
  view.Text(IDC_PROGRESS_LABEL).clear();
  view.Text(IDC_PERCENT) = kStatusCloseHint;
  fitsWhole();

  // A file name longer than the room is shortened.
  SendText(UM_REPAIR_FILE_NAME, "data\\sound\\voice_character_0123456789_long_name.pck");
  EXPECT_TRUE(canvas.Fit(IDC_STATUS, dlg->view().Text(IDC_STATUS)).shortened);
  EXPECT_EQ(
      WaitForScreen(kMainWindow, [&](const Picture& shot) { return FitsItsRoom(shot, dlg->view(), canvas, *fonts); }),
      "");
}

}  // namespace
}  // namespace guitest
