#include "ui/sdl/MainWindowCanvas.h"

#include "ui/sdl/WindowFont.h"

namespace {

struct ControlPlace {
  int id;
  SDL_Rect rect;
};

// The controls in the dialog's order, which is also the order they are drawn in.
constexpr ControlPlace kControls[] = {
    {IDC_CURRENT_VERSION_LABEL, {33, 256, 70, 20}},
    {IDC_CURRENT_VERSION, {110, 256, 70, 20}},
    {IDC_LATEST_VERSION_LABEL, {230, 256, 70, 20}},
    {IDC_LATEST_VERSION, {300, 256, 70, 20}},
    {IDC_COUNT_LABEL, {33, 280, 90, 20}},
    {IDC_COUNT, {110, 280, 70, 20}},
    {IDC_SPEED_LABEL, {230, 280, 70, 20}},
    {IDC_SPEED, {300, 280, 70, 20}},
    {IDC_PROGRESS, {33, 302, 321, 17}},
    {IDC_STATUS, {33, 327, 300, 20}},
    {IDC_PROGRESS_LABEL, {33, 355, 70, 20}},
    {IDC_PERCENT, {33, 355, 150, 20}},
};

}  // namespace

MainWindowCanvas::MainWindowCanvas(const Picture& background, Picture progressFill, const WindowFont& font)
    : background_(SurfaceFromPicture(background)), font_(font) {
  progress_.SetRange(kProgressLower, kProgressUpper);
  progress_.SetBitmap(std::move(progressFill));
}

SDL_Rect MainWindowCanvas::ControlRect(int id) {
  for (const ControlPlace& control : kControls) {
    if (control.id == id) return control.rect;
  }
  return {0, 0, 0, 0};
}

void MainWindowCanvas::Draw(const MainWindowView& view, SDL_Surface* frame) {
  SDL_BlitSurface(background_.get(), nullptr, frame, nullptr);
  for (const ControlPlace& control : kControls) {
    SDL_Rect rect = control.rect;
    if (control.id == IDC_PROGRESS) {
      progress_.SetPos(view.progressPosition);
      progress_.Paint(frame, rect);
      continue;
    }
    SDL_Rect source = rect;
    SDL_BlitSurface(background_.get(), &source, frame, &rect);
    font_.DrawStatic(frame, view.Text(control.id), control.rect, kTextColour, false);
  }
}
