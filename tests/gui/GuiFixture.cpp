#include "tests/gui/GuiFixture.h"

#include <SDL_image.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <thread>

#include "Procedure/ProcedureMessages.h"
#include "platform/MessageBox.h"
#include "ui/sdl/SdlSurface.h"

namespace guitest {

XvfbServer* GuiTest::server_ = nullptr;

bool Xdotool(const std::string& arguments) { return testsupport::RunShell("xdotool " + arguments) == 0; }

SDL_Point CentreOf(const SDL_Rect& origin, SDL_Point offset, PictureSize size) {
  return {origin.x + offset.x + size.width / 2, origin.y + offset.y + size.height / 2};
}

void GuiTest::SetUp() {
  ASSERT_TRUE(server_ != nullptr && server_->running()) << "Xvfb did not start";
  ASSERT_TRUE(screen.connected());
  cwd_.emplace(temp_.path());
  screen.ShowBackdrop(kBackdrop);
  frontEnd = SdlFrontEnd::Create();
  ASSERT_TRUE(frontEnd) << "no graphical front-end on " << server_->display();
  dlg = std::make_unique<CTovaLauncherDlg>(procedures, sink, *frontEnd, false);
  dlg->OnInitDialog();
}

void GuiTest::TearDown() {
  dlg.reset();
  frontEnd.reset();
  cwd_.reset();
}

void GuiTest::SendPatchInProgress() {
  SendText(UM_LATEST_VERSION, "1.0.6");
  SendText(UM_CURRENT_VERSION, "1.0.5");
  Send(UM_GAMEPATCH_START);
  Send(UM_GAMEPATCH_DOWNLOAD_BEGIN);
  Send(UM_GAMEPATCH_COUNT, 0, 3);
  Send(UM_GAMEPATCH_INDEX, 0, 2);
  SendSize(UM_GAMEPATCH_TOTAL_SIZE, "52428800");
  SendSize(UM_GAMEPATCH_DONE_SIZE, "23592960");
  const std::string speed = "1.20M";
  Send(UM_DOWNLOAD_SPEED, 1258291, reinterpret_cast<LParam>(speed.c_str()));
}

std::string GuiTest::WaitForScreen(const SDL_Rect& rect, const std::function<std::string(const Picture&)>& check) {
  std::string complaint;
  screen.WaitUntil(
      rect,
      [&](const Picture& shot) {
        complaint = check(shot);
        return complaint.empty();
      },
      kScreenTimeout,
      [this] {
        MessageLoop::PumpPending(std::chrono::milliseconds(5));
        frontEnd->Pump();
      });
  return complaint;
}

bool GuiTest::WaitForMainWindowAt(SDL_Point position) {
  const auto deadline = std::chrono::steady_clock::now() + kScreenTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const SDL_Rect bounds = frontEnd->MainWindowBounds();
    if (bounds.x == position.x && bounds.y == position.y) return true;
    MessageLoop::PumpPending(std::chrono::milliseconds(5));
    frontEnd->Pump();
  }
  return false;
}

int GuiTest::AskFromWorker(const std::string& text,
                           const std::function<void(ScreenView&, const ScreenView::MappedWindow&)>& user) {
  std::latch watching(1);
  std::thread userThread([&] {
    ScreenView view;
    view.WatchMappedWindows();
    watching.count_down();
    const std::optional<ScreenView::MappedWindow> box =
        view.WaitForMappedWindow(kBoxBackgroundSize.width, kBoxBackgroundSize.height, kScreenTimeout);
    if (!box) return;
    boxBounds = box->bounds;
    user(view, *box);
  });
  watching.wait();
  answered_ = false;
  int answer = 0;
  std::thread worker([&] {
    answer = ShowMessageBox(text, "メッセージ", dlg->window());
    answered_ = true;
  });
  MessageLoop::RunUntil([&] { return answered_.load(); });
  worker.join();
  userThread.join();
  return answer;
}

bool GuiTest::WaitForAnswer(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!answered_ && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return answered_;
}

void GuiTest::SaveScreenshot(ScreenView& view, const SDL_Rect& rect, const std::string& name) {
  const char* folder = std::getenv("GUI_SCREENSHOT_DIR");
  if (folder == nullptr || *folder == '\0') return;
  const Picture shot = view.Grab(rect);
  SurfacePtr surface = SurfaceFromPicture(shot);
  ASSERT_TRUE(surface);
  EXPECT_EQ(IMG_SavePNG(surface.get(), (std::string(folder) + "/" + name).c_str()), 0) << IMG_GetError();
}

}  // namespace guitest
