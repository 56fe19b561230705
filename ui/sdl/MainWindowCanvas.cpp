#include "ui/sdl/MainWindowCanvas.h"

#include "ui/sdl/FontLadder.h"

namespace {

struct ControlPlace {
  int id;
  SDL_Rect rect;
  SDL_Rect room;  // of the text
};

// The controls in the dialog's order, which is also the order they are drawn
// in. The dark panel's border runs at x 379; rooms end 3 pixels before it.
constexpr ControlPlace kControls[] = {
    {IDC_CURRENT_VERSION_LABEL, {33, 256, 70, 20}, {33, 256, 73, 20}},
    {IDC_CURRENT_VERSION, {110, 256, 70, 20}, {110, 256, 116, 20}},
    {IDC_LATEST_VERSION_LABEL, {230, 256, 70, 20}, {230, 256, 66, 20}},
    {IDC_LATEST_VERSION, {300, 256, 70, 20}, {300, 256, 76, 20}},
    {IDC_COUNT_LABEL, {33, 280, 90, 20}, {33, 280, 73, 20}},
    {IDC_COUNT, {110, 280, 70, 20}, {110, 280, 116, 20}},
    {IDC_SPEED_LABEL, {230, 280, 70, 20}, {230, 280, 66, 20}},
    {IDC_SPEED, {300, 280, 70, 20}, {300, 280, 76, 20}},
    {IDC_PROGRESS, {33, 302, 321, 17}, {0, 0, 0, 0}},
    {IDC_STATUS, {33, 327, 300, 20}, {33, 327, 343, 20}},
    {IDC_PROGRESS_LABEL, {33, 355, 70, 20}, {33, 355, 70, 20}},
    {IDC_PERCENT, {33, 355, 150, 20}, {33, 355, 343, 20}},
};

const ControlPlace* Place(int id) {
  for (const ControlPlace& control : kControls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

}  // namespace

MainWindowCanvas::MainWindowCanvas(const Picture& background, Picture progressFill, const FontLadder& fonts)
    : background_(SurfaceFromPicture(background)), fonts_(fonts) {
  progress_.SetRange(kProgressLower, kProgressUpper);
  progress_.SetBitmap(std::move(progressFill));
}

SDL_Rect MainWindowCanvas::ControlRect(int id) {
  const ControlPlace* place = Place(id);
  return place != nullptr ? place->rect : SDL_Rect{0, 0, 0, 0};
}

SDL_Rect MainWindowCanvas::TextRoom(int id) {
  const ControlPlace* place = Place(id);
  return place != nullptr ? place->room : SDL_Rect{0, 0, 0, 0};
}

FittedText MainWindowCanvas::Fit(int id, std::string_view text) const {
  const SDL_Rect room = TextRoom(id);
  return fonts_.Fit(text, room.w, room.h);
}

void MainWindowCanvas::Draw(const MainWindowView& view, SDL_Surface* frame) {
  SDL_BlitSurface(background_.get(), nullptr, frame, nullptr);
  for (const ControlPlace& control : kControls) {
    if (control.id == IDC_PROGRESS) {
      SDL_Rect rect = control.rect;
      progress_.SetPos(view.progressPosition);
      progress_.Paint(frame, rect);
      continue;
    }
    SDL_Rect source = control.room;
    SDL_Rect room = control.room;
    SDL_BlitSurface(background_.get(), &source, frame, &room);
    fonts_.Draw(frame, Fit(control.id, view.Text(control.id)), control.room, kTextColour, false);
  }
}
