#include "ui/sdl/SdlFrontEnd.h"

#include <SDL_image.h>
#include <SDL_ttf.h>

#include <chrono>
#include <cstdlib>

#include "platform/MessageWindow.h"
#include "ui/sdl/FontLadder.h"
#include "ui/sdl/MainWindowCanvas.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/PictureResource.h"
#include "ui/sdl/ShapedWindow.h"
#include "ui/sdl/TovaMsgBox.h"
#include "ui/sdl/TrayIcon.h"

namespace {

constexpr const char* kWindowTitle = "TovaLauncher";
// How long a loop turn waits for a launcher message before looking at the
// window's events again.
constexpr int kTurnMs = 10;

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

// SDL's video, SDL2_ttf and SDL2_image for the front-end's life. SDL leaves
// the signals alone, so Ctrl+C still ends the launcher, and the click that
// gives a window the focus also acts on it (drags it, presses a button).
class SdlFrontEnd::Session {
 public:
  bool Start() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    video_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    ttf_ = video_ && TTF_Init() == 0;
    image_ = ttf_ && (IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) != 0;
    if (image_) ScreenPointer::Enable();
    return image_;
  }
  ~Session() {
    if (image_) IMG_Quit();
    if (ttf_) TTF_Quit();
    if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

 private:
  bool video_ = false;
  bool ttf_ = false;
  bool image_ = false;
};

SdlFrontEnd::SdlFrontEnd() = default;

SdlFrontEnd::~SdlFrontEnd() = default;

std::unique_ptr<SdlFrontEnd> SdlFrontEnd::Create() {
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) return nullptr;
  std::unique_ptr<SdlFrontEnd> frontEnd(new SdlFrontEnd());
  if (!frontEnd->Init()) return nullptr;
  return frontEnd;
}

bool SdlFrontEnd::Init() {
  session_ = std::make_unique<Session>();
  if (!session_->Start()) return false;
  const std::optional<WindowFont::File> fontFile = WindowFont::Find();
  if (!fontFile) return false;
  textFonts_ = FontLadder::Open(*fontFile,
                                {std::begin(MainWindowCanvas::kFontHeights), std::end(MainWindowCanvas::kFontHeights)});
  captionFont_ = FontLadder::Open(*fontFile, {TovaMsgBox::kCaptionFontHeight});
  std::optional<Picture> background = LoadPictureResource(IDB_MAIN_BACKGROUND);
  std::optional<Picture> progressFill = LoadPictureResource(IDB_PROGRESS_FILL);
  if (!textFonts_ || !captionFont_ || !background || !progressFill) return false;

  window_ = ShapedWindow::Create(kWindowTitle, {0, 0}, BuildWindowRegion(*background));
  frame_ = MakeArgbSurface(background->width, background->height);
  if (!window_ || !frame_) return false;
  canvas_ = std::make_unique<MainWindowCanvas>(*background, std::move(*progressFill), *textFonts_);
  if (std::optional<Picture> icon = LoadPictureResource(IDI_MAIN_ICON)) {
    icon_ = SurfaceFromPicture(*icon);
    if (icon_) {
      SDL_SetColorKey(icon_.get(), SDL_TRUE, SDL_MapRGB(icon_->format, 255, 255, 255));
      SDL_SetWindowIcon(window_->window(), icon_.get());
    }
  }
  return true;
}

void SdlFrontEnd::Show(const MainWindowView& view) {
  view_ = view;
  dirty_ = true;
}

void SdlFrontEnd::Draw() {
  if (!dirty_ || !view_ || !window_) return;
  dirty_ = false;
  if (!visible_) {
    window_->Show();
    visible_ = true;
  }
  if (view_->minimized != minimized_) {
    minimized_ = view_->minimized;
    if (minimized_) {
      SDL_MinimizeWindow(window_->window());
    } else {
      SDL_RestoreWindow(window_->window());
    }
  }
  if (view_->topmost && !topmost_) {
    topmost_ = true;
    SDL_SetWindowAlwaysOnTop(window_->window(), SDL_TRUE);
    SDL_RestoreWindow(window_->window());
    SDL_RaiseWindow(window_->window());
  }
  canvas_->Draw(*view_, frame_.get());
  window_->Present(frame_.get());
}

void SdlFrontEnd::Turn(int waitMs) {
  MessageLoop::PumpPending(std::chrono::milliseconds(waitMs));
  Pump();
}

void SdlFrontEnd::HandleEvent(const SDL_Event& event) {
  if (event.type == SDL_SYSWMEVENT) {
    pointer_.Observe(event);
    return;
  }
  if (!boxes_.empty()) {
    TovaMsgBox& box = *boxes_.back();
    const Uint32 boxId = box.windowId();
    // Keys go to the innermost box, whichever launcher window has the focus.
    const bool forBox =
        (event.type == SDL_WINDOWEVENT && event.window.windowID == boxId) ||
        (event.type == SDL_MOUSEMOTION && event.motion.windowID == boxId) ||
        ((event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) && event.button.windowID == boxId) ||
        event.type == SDL_KEYDOWN;
    if (forBox) {
      box.HandleEvent(event, pointer_.At());
      return;
    }
    // Outer boxes still redraw when uncovered; nothing else reaches them.
    for (TovaMsgBox* outer : boxes_) {
      if (event.type == SDL_WINDOWEVENT && event.window.windowID == outer->windowId())
        outer->HandleEvent(event, pointer_.At());
    }
  }
  HandleMainWindowEvent(event);
}

void SdlFrontEnd::HandleMainWindowEvent(const SDL_Event& event) {
  const Uint32 mainId = window_->id();
  const bool modal = !boxes_.empty();
  switch (event.type) {
    case SDL_WINDOWEVENT:
      if (event.window.windowID != mainId) return;
      if (event.window.event == SDL_WINDOWEVENT_EXPOSED) window_->Refresh();
      if (event.window.event == SDL_WINDOWEVENT_CLOSE && !modal) closeRequested_ = true;
      return;
    case SDL_MOUSEBUTTONDOWN:
      if (!modal && event.button.windowID == mainId && event.button.button == SDL_BUTTON_LEFT)
        window_->BeginDrag(pointer_.At());
      return;
    case SDL_MOUSEMOTION:
      if (event.motion.windowID == mainId) window_->FollowDrag(pointer_.At());
      return;
    case SDL_MOUSEBUTTONUP:
      if (event.button.button == SDL_BUTTON_LEFT) window_->EndDrag();
      return;
    case SDL_KEYDOWN:
      // Escape is swallowed; Enter closes (acted on only once the chain has stopped).
      if (!modal && (event.key.keysym.sym == SDLK_RETURN || event.key.keysym.sym == SDLK_KP_ENTER)) {
        enterPressed_ = true;
      }
      return;
    default: return;
  }
}

int SdlFrontEnd::Ask(const std::string& text, const std::string& caption) {
  Draw();
  window_->EndDrag();
  std::unique_ptr<TovaMsgBox> box =
      TovaMsgBox::Create(text, caption, MainWindowBounds(), window_->window(), *captionFont_, *textFonts_);
  if (!box) return TovaMsgBox::kNo;
  boxes_.push_back(box.get());
  while (!box->answer() && !questionsEnded_) Turn(kTurnMs);
  boxes_.pop_back();
  return box->answer().value_or(TovaMsgBox::kNo);
}

void SdlFrontEnd::AddTrayIcon(MessageWindow* window) { tray_ = ::AddTrayIcon(window); }

void SdlFrontEnd::RemoveTrayIcon() { tray_.reset(); }

void SdlFrontEnd::Pump() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) HandleEvent(event);
  Draw();
}

bool SdlFrontEnd::TakeCloseRequest() {
  const bool requested = closeRequested_;
  closeRequested_ = false;
  return requested;
}

// The status line and the percentage's row already say what happened and
// how to close; the launch log's reason has no room of its own.
void SdlFrontEnd::WaitForClose(const std::string&) {
  Draw();
  closeRequested_ = enterPressed_ = false;
  while (!closeRequested_ && !enterPressed_ && !questionsEnded_) Turn(kTurnMs);
}

void SdlFrontEnd::EndQuestions() { questionsEnded_ = true; }

void SdlFrontEnd::Close() {
  RemoveTrayIcon();
  Draw();
  if (window_) window_->Hide();
  visible_ = false;
}

SDL_Rect SdlFrontEnd::MainWindowBounds() const { return window_->Bounds(); }

Uint32 SdlFrontEnd::MainWindowId() const { return window_->id(); }
