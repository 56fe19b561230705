// The main window's tray icon as a desktop panel sees it: a StatusNotifierItem
// on a private session bus, registered with a watcher of the test's own,
// read back and activated over the bus; and the window without a watcher or
// without a bus.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "Procedure/ProcedureMessages.h"
#include "tests/gui/GuiFixture.h"
#include "tests/gui/ScreenChecks.h"
#include "tests/gui/SessionBus.h"
#include "ui/sdl/PictureResource.h"
#include "util/LaunchLog.h"

namespace guitest {
namespace {

constexpr SDL_Rect kMainWindow{0, 0, kMainBackgroundSize.width, kMainBackgroundSize.height};
constexpr Rgb kCover{200, 60, 160};
constexpr const char* kUnavailableLine = "tray icon not shown: ";

class TrayIconTest : public GuiTest {
 protected:
  // The window opens in each test, once its bus is set up.
  void SetUp() override {}

  void OpenWindow() { ASSERT_NO_FATAL_FAILURE(GuiTest::SetUp()); }

  // Lets the window run while the watcher waits for the item.
  std::optional<std::string> WaitForItem(TestWatcher& watcher) {
    return watcher.WaitForRegistration(kScreenTimeout, [this] { PumpWindow(); });
  }

  void PumpWindow() {
    MessageLoop::PumpPending(std::chrono::milliseconds(5));
    frontEnd->Pump();
  }

  // The launch log's lines that say the icon is not shown.
  static std::vector<std::string> UnavailableLines() {
    std::vector<std::string> lines;
    std::istringstream log(testsupport::ReadFile(kLaunchLogName));
    for (std::string line; std::getline(log, line);) {
      if (line.find(kUnavailableLine) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  // Lets the window run until the log says the icon is not shown.
  bool WaitForUnavailableLine() {
    const auto deadline = std::chrono::steady_clock::now() + kScreenTimeout;
    while (UnavailableLines().empty() && std::chrono::steady_clock::now() < deadline) PumpWindow();
    return !UnavailableLines().empty();
  }

  // The window runs: it shows its face and follows a launcher message.
  void ExpectWindowRuns() {
    Send(UM_SELFPATCH_START);
    EXPECT_EQ(dlg->view().Text(IDC_STATUS), "バージョン検索中...");
    EXPECT_EQ(WaitForScreen(kMainWindow,
                            [](const Picture& shot) {
                              return ShowsMainWindow(shot, {0, 0}, kBackdrop);
                            }),
              "");
  }
};

std::string ShowsOnlyCover(const Picture& shot) {
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (shot.At(x, y) != kCover) return "not the cover at " + std::to_string(x) + "," + std::to_string(y);
    }
  }
  return {};
}

// The pixmap shows the icon picture: its white pixels transparent, the others
// opaque in the picture's colour.
std::string ShowsIcon(const ItemPixmap& pixmap, const Picture& icon) {
  if (pixmap.width != icon.width || pixmap.height != icon.height) return "pixmap of another size";
  if (pixmap.argb.size() != static_cast<size_t>(icon.width) * icon.height * 4) return "pixmap of the wrong length";
  for (int y = 0; y < icon.height; ++y) {
    for (int x = 0; x < icon.width; ++x) {
      const uint8_t* p = &pixmap.argb[(static_cast<size_t>(y) * icon.width + x) * 4];
      const std::string at = " at " + std::to_string(x) + "," + std::to_string(y);
      if (icon.IsWhite(x, y)) {
        if (p[0] != 0) return "white pixel not transparent" + at;
      } else if (p[0] != 255 || Rgb{p[1], p[2], p[3]} != icon.At(x, y)) {
        return "pixel differs from the picture" + at;
      }
    }
  }
  return {};
}

TEST_F(TrayIconTest, RegistersWithTitleAndIconActivateRaisesTheWindowAndClosingTakesItAway) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.running());
  TestWatcher watcher;
  ASSERT_TRUE(watcher.connected());
  ASSERT_TRUE(watcher.OwnWatcherName());
  OpenWindow();

  const std::optional<std::string> item = WaitForItem(watcher);
  ASSERT_TRUE(item) << "no item registered";
  EXPECT_EQ(watcher.StringProperty(*item, "Title"), "TovaLaunhcer");
  EXPECT_EQ(watcher.StringProperty(*item, "ToolTip", 2), "TovaLaunhcer");
  const std::optional<Picture> icon = LoadPictureResource(IDI_MAIN_ICON);
  ASSERT_TRUE(icon);
  const std::optional<std::vector<ItemPixmap>> pixmaps = watcher.IconPixmaps(*item);
  ASSERT_TRUE(pixmaps);
  ASSERT_EQ(pixmaps->size(), 1u);
  EXPECT_EQ(ShowsIcon(pixmaps->front(), *icon), "");

  // A window of the test's covers the main window; the other calls leave it so.
  screen.ShowCover(kMainWindow, kCover);
  for (const char* method : {"ContextMenu", "SecondaryActivate", "Scroll"}) {
    EXPECT_EQ(watcher.CallItem(*item, method), "") << method;
  }
  for (int i = 0; i < 5; ++i) PumpWindow();
  EXPECT_FALSE(dlg->view().topmost);
  ASSERT_EQ(WaitForScreen(kMainWindow, ShowsOnlyCover), "");

  // A left click raises the main window above the cover.
  EXPECT_EQ(watcher.CallItem(*item, "Activate"), "");
  EXPECT_EQ(WaitForScreen(kMainWindow, [](const Picture& shot) { return ShowsMainWindow(shot, {0, 0}, kCover); }), "");
  EXPECT_TRUE(dlg->view().topmost);

  // The window goes: its item leaves the bus.
  EXPECT_TRUE(watcher.NameHasOwner(*item));
  dlg.reset();
  EXPECT_FALSE(watcher.NameHasOwner(*item));
  EXPECT_TRUE(UnavailableLines().empty());
}

TEST_F(TrayIconTest, WithoutWatcherTheWindowRunsTheLogSaysSoOnceAndAWatcherThatAppearsGetsTheItem) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.running());
  TestWatcher watcher;
  ASSERT_TRUE(watcher.connected());
  OpenWindow();
  ASSERT_TRUE(WaitForUnavailableLine());
  ExpectWindowRuns();

  // A panel started after the launcher shows the icon.
  ASSERT_TRUE(watcher.OwnWatcherName());
  const std::optional<std::string> item = WaitForItem(watcher);
  ASSERT_TRUE(item) << "no item registered with the late watcher";
  EXPECT_EQ(watcher.StringProperty(*item, "Title"), "TovaLaunhcer");
  dlg.reset();
  EXPECT_FALSE(watcher.NameHasOwner(*item));
  const std::vector<std::string> lines = UnavailableLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no StatusNotifierWatcher"), std::string::npos) << lines[0];
}

TEST_F(TrayIconTest, WithoutSessionBusTheWindowRunsAndTheLogSaysSoOnce) {
  testsupport::TempDir nothing;
  for (const std::optional<std::string>& address :
       {std::optional<std::string>("unix:path=" + (nothing.path() / "bus").string()), std::optional<std::string>()}) {
    SCOPED_TRACE(address.value_or("DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR unset"));
    EnvironmentOverride busVariable("DBUS_SESSION_BUS_ADDRESS", address);
    EnvironmentOverride runtimeVariable("XDG_RUNTIME_DIR", std::nullopt);
    OpenWindow();
    ExpectWindowRuns();
    dlg.reset();
    frontEnd.reset();
    const std::vector<std::string> lines = UnavailableLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("no session bus"), std::string::npos) << lines[0];
    std::filesystem::remove(kLaunchLogName);
    GuiTest::TearDown();
  }
}

}  // namespace
}  // namespace guitest
