// The message box on a real X server, asked from a worker thread while the
// test's thread runs the message loop and a third thread plays the user.
#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <string>
#include <thread>

#include "tests/gui/GuiFixture.h"
#include "tests/gui/ScreenChecks.h"
#include "ui/sdl/PictureResource.h"
#include "ui/sdl/TovaMsgBox.h"

// After gtest: X11's headers define None and other plain names as macros.
#include <SDL_syswm.h>

namespace guitest {
namespace {

constexpr SDL_Rect kMainWindow{0, 0, kMainBackgroundSize.width, kMainBackgroundSize.height};
// Wraps to two lines in the text area, at its blank.
constexpr const char* kQuestion = "アップデートに失敗しました。 ゲームデータの復元を行いますか?";

SDL_Rect ButtonRect(SDL_Point at) { return {at.x, at.y, kBoxButtonSize.width, kBoxButtonSize.height}; }

std::string Where(SDL_Point point) { return std::to_string(point.x) + " " + std::to_string(point.y); }

// The box shows its background with `behind` (what the screen showed there
// before) in its holes; the caption, the text and the buttons draw over it.
std::string ShowsBoxFace(const Picture& shot, const Picture& behind) {
  const std::optional<Picture> face = LoadPictureResource(IDB_BOX_BACKGROUND);
  if (!face) return "no box picture";
  return ShowsFace(shot, *face, behind,
                   {TovaMsgBox::kCaptionRect, TovaMsgBox::kTextRect, ButtonRect(TovaMsgBox::kYesButtonAt),
                    ButtonRect(TovaMsgBox::kNoButtonAt)});
}

// The part of `shot` inside `rect`.
Picture Part(const Picture& shot, const SDL_Rect& rect) {
  Picture part(rect.w, rect.h);
  for (int y = 0; y < rect.h; ++y) {
    for (int x = 0; x < rect.w; ++x) part.Set(x, y, shot.At(rect.x + x, rect.y + y));
  }
  return part;
}

// The button at `at` in the box shows `face` through `mask`.
std::string ShowsButtonFace(const Picture& shot, SDL_Point at, int face, int mask) {
  return ShowsButton(Part(shot, ButtonRect(at)), *LoadPictureResource(face), *LoadPictureResource(mask));
}

TEST_F(GuiTest, ClickOnYesAnswersOneAndOnNoAnswersTwo) {
  ASSERT_EQ(WaitForScreen(kMainWindow,
                          [](const Picture& shot) {
                            return ShowsMainWindow(shot, {0, 0}, kBackdrop);
                          }),
            "");
  const struct {
    const char* name;
    SDL_Point button;
    int pressed;
    int mask;
    SDL_Point other;  // the other button: a click on its masked-out corner is no answer
    int answer;
  } cases[] = {
      {"はい", TovaMsgBox::kYesButtonAt, IDB_BOX_YES_PRESSED, IDB_BOX_YES_MASK, TovaMsgBox::kNoButtonAt, 1},
      {"いいえ", TovaMsgBox::kNoButtonAt, IDB_BOX_NO_PRESSED, IDB_BOX_NO_MASK, TovaMsgBox::kYesButtonAt, 2},
  };
  for (const auto& c : cases) {
    bool typed = false;
    std::string pressed = "not pressed";
    const int answer = AskFromWorker(kQuestion, [&](ScreenView& view, const ScreenView::MappedWindow& box) {
      const SDL_Rect at = box.bounds;
      // Escape with the pointer on the box, then a click beside the other
      // button's rounded corner: neither answers.
      const SDL_Point middle{at.x + at.w / 2, at.y + at.h / 2};
      const SDL_Point corner{at.x + c.other.x, at.y + c.other.y};
      const SDL_Point target = CentreOf(at, c.button, kBoxButtonSize);
      typed = Xdotool("mousemove " + Where(middle) + " key Escape mousemove " + Where(corner) + " click 1 mousemove " +
                      Where(target) + " mousedown 1");
      view.WaitUntil(
          at,
          [&](const Picture& shot) { return (pressed = ShowsButtonFace(shot, c.button, c.pressed, c.mask)).empty(); },
          kScreenTimeout);
      typed = Xdotool("mouseup 1") && typed;
    });
    EXPECT_TRUE(typed) << c.name;
    EXPECT_EQ(pressed, "") << c.name << ": the pressed picture while held";
    EXPECT_EQ(answer, c.answer) << c.name;
  }
}

TEST_F(GuiTest, BoxIsCentredOverTheMainWindowAfterItWasMoved) {
  ASSERT_EQ(WaitForScreen(kMainWindow,
                          [](const Picture& shot) {
                            return ShowsMainWindow(shot, {0, 0}, kBackdrop);
                          }),
            "");
  ASSERT_TRUE(Xdotool("mousemove 200 150 mousedown 1 mousemove 333 221 mouseup 1"));
  ASSERT_TRUE(WaitForMainWindowAt({133, 71}));
  const SDL_Rect centred{133 + (725 - 450) / 2, 71 + (400 - 200) / 2, 450, 200};
  const SDL_Rect screenCorner{0, 0, 133 + 725, 71 + 400};
  ASSERT_EQ(WaitForScreen(screenCorner,
                          [](const Picture& shot) {
                            return ShowsMainWindow(shot, {133, 71}, kBackdrop);
                          }),
            "");
  const Picture behind = screen.Grab(centred);

  std::string shown = "not looked at";
  const int answer = AskFromWorker(kQuestion, [&](ScreenView& view, const ScreenView::MappedWindow& box) {
    view.WaitUntil(
        box.bounds, [&](const Picture& shot) { return (shown = ShowsBoxFace(shot, behind)).empty(); }, kScreenTimeout);
    Xdotool("mousemove " + Where(CentreOf(box.bounds, TovaMsgBox::kNoButtonAt, kBoxButtonSize)) + " click 1");
  });
  ASSERT_TRUE(boxBounds);
  EXPECT_EQ(boxBounds->x, centred.x);
  EXPECT_EQ(boxBounds->y, centred.y);
  EXPECT_EQ(shown, "");
  EXPECT_EQ(answer, 2);
}

bool IsNearWhite(Rgb c) { return c.r >= 235 && c.g >= 235 && c.b >= 235; }
bool IsCream(Rgb c) { return c.r >= 235 && c.g >= 210 && c.g <= 245 && c.b >= 160 && c.b <= 215; }

// The caption in white centred on its area; the text in cream in two
// centred lines of 18 pixels from the top of its area.
std::string ShowsCaptionAndTwoLines(const Picture& shot) {
  const SDL_Rect caption = TovaMsgBox::kCaptionRect;
  const SDL_Rect text = TovaMsgBox::kTextRect;
  const auto centred = [](const SDL_Rect& found, const SDL_Rect& area) {
    return std::abs((2 * found.x + found.w) - (2 * area.x + area.w)) <= 4;
  };
  const std::optional<SDL_Rect> white = BoundsOf(shot, caption, IsNearWhite);
  if (!white) return "no white caption";
  if (!centred(*white, caption)) return "caption not centred";
  const int line = TovaMsgBox::kTextFontHeight;
  for (int i = 0; i < 2; ++i) {
    const std::optional<SDL_Rect> cream = BoundsOf(shot, {text.x, text.y + i * line, text.w, line}, IsCream);
    if (!cream) return "no cream text on line " + std::to_string(i + 1);
    if (!centred(*cream, text)) return "line " + std::to_string(i + 1) + " not centred";
  }
  if (BoundsOf(shot, {text.x, text.y + 2 * line, text.w, text.h - 2 * line}, IsCream)) return "a third line";
  return {};
}

// The rows of `shot` in `area` that hold cream ink, as runs [top, bottom].
std::vector<std::pair<int, int>> CreamRows(const Picture& shot, const SDL_Rect& area) {
  std::vector<std::pair<int, int>> runs;
  for (int y = area.y; y < area.y + area.h; ++y) {
    if (!BoundsOf(shot, {area.x, y, area.w, 1}, IsCream)) continue;
    if (!runs.empty() && runs.back().second == y - 1) {
      runs.back().second = y;
    } else {
      runs.emplace_back(y, y);
    }
  }
  return runs;
}

// Three centred cream lines between the caption's underline and the
// buttons, clear of both.
std::string ShowsThreeLinesAboveTheButtons(const Picture& shot) {
  const SDL_Rect band{0, 77, shot.width, TovaMsgBox::kYesButtonAt.y - 77};
  const std::optional<SDL_Rect> cream = BoundsOf(shot, band, IsCream);
  if (!cream) return "no cream text";
  const std::vector<std::pair<int, int>> lines = CreamRows(shot, band);
  if (lines.size() != 3) return std::to_string(lines.size()) + " lines of text";
  if (cream->y < 79) return "the text touches the caption's underline";
  if (cream->y + cream->h > TovaMsgBox::kYesButtonAt.y - 2) return "the text touches the buttons";
  if (lines.back().second - lines.back().first < lines.front().second - lines.front().first - 2)
    return "the last line is cut";
  return {};
}

// The caption and the text in their colours: a text of two lines in its
// area, one of three lines (899 pixels at the normal size) whole between the
// caption's underline and the buttons. Each answer is a click on a button.
TEST_F(GuiTest, CaptionAndWrappedTextInTheirColours) {
  const struct {
    const char* text;
    std::function<std::string(const Picture&)> shows;
    const char* screenshot;
    SDL_Point button;
    int answer;
  } boxes[] = {
      {kQuestion, ShowsCaptionAndTwoLines, "message-box.png", TovaMsgBox::kYesButtonAt, 1},
      {"VC++が見つかなかったため、ゲームを正常に起動する事ができませんでした。Microsoft Visual "
       "C++のインストール後に再度起動する事を推奨致します。",
       ShowsThreeLinesAboveTheButtons, "message-box-three-lines.png", TovaMsgBox::kNoButtonAt, 2},
  };
  SendPatchInProgress();
  ASSERT_EQ(WaitForScreen(kMainWindow,
                          [](const Picture& shot) {
                            return ShowsMainWindow(shot, {0, 0}, kBackdrop);
                          }),
            "");
  for (const auto& box : boxes) {
    SCOPED_TRACE(box.screenshot);
    std::string shown = "not looked at";
    const int answer = AskFromWorker(box.text, [&](ScreenView& view, const ScreenView::MappedWindow& window) {
      view.WaitUntil(
          window.bounds, [&](const Picture& shot) { return (shown = box.shows(shot)).empty(); }, kScreenTimeout);
      SaveScreenshot(view, kMainWindow, box.screenshot);
      Xdotool("mousemove " + Where(CentreOf(window.bounds, box.button, kBoxButtonSize)) + " click 1");
    });
    EXPECT_EQ(shown, "");
    EXPECT_EQ(answer, box.answer);
  }
}

TEST_F(GuiTest, EnterAnswersAsTheLeftButtonAndEscapeDoesNothing) {
  for (const char* enter : {"Return", "KP_Enter"}) {
    bool typed = false;
    const int answer = AskFromWorker(kQuestion, [&](ScreenView& view, const ScreenView::MappedWindow& box) {
      const SDL_Point middle{box.bounds.x + box.bounds.w / 2, box.bounds.y + box.bounds.h / 2};
      // Were the box closed by Escape, the answer would be 2.
      typed = Xdotool("mousemove " + Where(middle) + " key Escape key " + enter);
      // A box that the keys left open is closed, which answers 2.
      if (!WaitForAnswer(kScreenTimeout)) view.RequestClose(box.id);
    });
    EXPECT_TRUE(typed) << enter;
    EXPECT_EQ(answer, 1) << enter;
  }
}

TEST_F(GuiTest, ClosingTheBoxOtherwiseAnswersTwo) {
  const int answer = AskFromWorker(
      kQuestion, [](ScreenView& view, const ScreenView::MappedWindow& box) { view.RequestClose(box.id); });
  EXPECT_EQ(answer, 2);
}

// While the chain runs, Escape and Enter leave the main window alone, and the
// window manager's close asks whether to stop: いいえ goes on, はい (Enter)
// stops the chain.
TEST_F(GuiTest, ClosingTheRunningWindowAsksWhetherToStop) {
  SendPatchInProgress();
  ASSERT_EQ(WaitForScreen(kMainWindow,
                          [](const Picture& shot) {
                            return ShowsMainWindow(shot, {0, 0}, kBackdrop);
                          }),
            "");
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(SDL_GetWindowFromID(frontEnd->MainWindowId()), &info));
  const Window mainWindow = info.info.x11.window;

  std::latch watching(1);
  std::string shown[2] = {"not looked at", "not looked at"};
  std::thread user([&] {
    ScreenView view;
    view.WatchMappedWindows();
    watching.count_down();
    Xdotool("mousemove 300 330 key Escape key Return");
    for (int round = 0; round < 2; ++round) {
      view.RequestClose(mainWindow);
      const std::optional<ScreenView::MappedWindow> box =
          view.WaitForMappedWindow(kBoxBackgroundSize.width, kBoxBackgroundSize.height, kScreenTimeout);
      if (!box) return;
      view.WaitUntil(
          box->bounds, [&](const Picture& shot) { return (shown[round] = ShowsCaptionAndTwoLines(shot)).empty(); },
          kScreenTimeout);
      if (round == 0) {
        Xdotool("mousemove " + Where(CentreOf(box->bounds, TovaMsgBox::kNoButtonAt, kBoxButtonSize)) + " click 1");
      } else {
        SaveScreenshot(view, kMainWindow, "stop-question.png");
        Xdotool("key Return");
      }
    }
  });
  watching.wait();
  const LauncherOutcome outcome = dlg->RunModalLoop();
  user.join();
  EXPECT_EQ(shown[0], "");
  EXPECT_EQ(shown[1], "");
  EXPECT_EQ(outcome, LauncherOutcome::kInterrupted);
  EXPECT_EQ(procedures.stops, 1);
  const std::string log = testsupport::ReadFile("Launch.log");
  EXPECT_NE(log.find("stop declined (the window was closed)"), std::string::npos) << log;
  EXPECT_NE(log.find("stopped on request (the window was closed)"), std::string::npos) << log;
}

}  // namespace
}  // namespace guitest
