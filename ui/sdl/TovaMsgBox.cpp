#include "ui/sdl/TovaMsgBox.h"

#include "ui/sdl/FontLadder.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/PictureResource.h"

namespace {

// Moves the button to `at` with the size of its normal picture and skins it.
bool PlaceButton(CxSkinButton& button, SDL_Point at, int normal, int pressed, int mask) {
  const std::optional<Picture> face = LoadPictureResource(normal);
  if (!face) return false;
  button.MoveWindow({at.x, at.y, face->width, face->height});
  return button.SetSkin(normal, pressed, normal, mask);
}

}  // namespace

std::unique_ptr<TovaMsgBox> TovaMsgBox::Create(const std::string& text, const std::string& caption,
                                               const SDL_Rect& ownerBounds, SDL_Window* owner,
                                               const FontLadder& captionFont, const FontLadder& textFonts) {
  const std::optional<Picture> background = LoadPictureResource(IDB_BOX_BACKGROUND);
  if (!background) return nullptr;
  const SDL_Point centred{ownerBounds.x + (ownerBounds.w - background->width) / 2,
                          ownerBounds.y + (ownerBounds.h - background->height) / 2};
  std::unique_ptr<ShapedWindow> window = ShapedWindow::Create(caption, centred, BuildWindowRegion(*background));
  SurfacePtr frame = MakeArgbSurface(background->width, background->height);
  SurfacePtr face = SurfaceFromPicture(*background);
  if (!window || !frame || !face) return nullptr;
  std::unique_ptr<TovaMsgBox> box(new TovaMsgBox(std::move(window), std::move(frame)));
  if (!PlaceButton(box->yes_, kYesButtonAt, IDB_BOX_YES_NORMAL, IDB_BOX_YES_PRESSED, IDB_BOX_YES_MASK) ||
      !PlaceButton(box->no_, kNoButtonAt, IDB_BOX_NO_NORMAL, IDB_BOX_NO_PRESSED, IDB_BOX_NO_MASK)) {
    return nullptr;
  }
  captionFont.Draw(face.get(), captionFont.Fit(caption, kCaptionRect.w, kCaptionRect.h), kCaptionRect, kCaptionColour,
                   true);
  const FittedText fitted = textFonts.Fit(text, kTextBand.w, kTextBand.h);
  textFonts.Draw(face.get(), fitted, TextArea(fitted.lines.size()), kTextColour, true);
  box->face_ = std::move(face);

  if (owner != nullptr) SDL_SetWindowModalFor(box->window_->window(), owner);
  box->window_->Show();
  SDL_RaiseWindow(box->window_->window());
  box->Paint();
  return box;
}

SDL_Rect TovaMsgBox::TextArea(size_t lines) { return lines <= kTextRectLines ? kTextRect : kTextBand; }

void TovaMsgBox::Paint() {
  SDL_BlitSurface(face_.get(), nullptr, frame_.get(), nullptr);
  yes_.Paint(frame_.get());
  no_.Paint(frame_.get());
  window_->Present(frame_.get());
}

void TovaMsgBox::HandleEvent(const SDL_Event& event, SDL_Point pointer) {
  if (event.type == SDL_WINDOWEVENT) {
    if (event.window.windowID != windowId()) return;
    switch (event.window.event) {
      case SDL_WINDOWEVENT_EXPOSED: window_->Refresh(); break;
      case SDL_WINDOWEVENT_LEAVE:
        yes_.OnMouseLeave();
        no_.OnMouseLeave();
        Paint();
        break;
      case SDL_WINDOWEVENT_CLOSE: answer_ = kNo; break;
      default: break;
    }
    return;
  }
  if (event.type == SDL_KEYDOWN) {
    if (event.key.keysym.sym == SDLK_RETURN || event.key.keysym.sym == SDLK_KP_ENTER) answer_ = kYes;
    return;
  }
  HandleMouse(event, pointer);
}

void TovaMsgBox::HandleMouse(const SDL_Event& event, SDL_Point pointer) {
  const CxSkinButton::Look before[] = {yes_.look(), no_.look()};
  switch (event.type) {
    case SDL_MOUSEMOTION:
      if (event.motion.windowID != windowId()) return;
      window_->FollowDrag(pointer);
      yes_.OnMouseMove(event.motion.x, event.motion.y);
      no_.OnMouseMove(event.motion.x, event.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.windowID != windowId() || event.button.button != SDL_BUTTON_LEFT) return;
      if (!yes_.HitTest(event.button.x, event.button.y) && !no_.HitTest(event.button.x, event.button.y)) {
        window_->BeginDrag(pointer);
      }
      yes_.OnButtonDown(event.button.x, event.button.y);
      no_.OnButtonDown(event.button.x, event.button.y);
      break;
    case SDL_MOUSEBUTTONUP:
      if (event.button.windowID != windowId() || event.button.button != SDL_BUTTON_LEFT) return;
      window_->EndDrag();
      if (yes_.OnButtonUp(event.button.x, event.button.y)) answer_ = kYes;
      if (no_.OnButtonUp(event.button.x, event.button.y)) answer_ = kNo;
      break;
    default: return;
  }
  if (yes_.look() != before[0] || no_.look() != before[1]) Paint();
}
