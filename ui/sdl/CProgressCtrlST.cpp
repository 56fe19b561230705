#include "ui/sdl/CProgressCtrlST.h"

#include <algorithm>
#include <cstdlib>

void CProgressCtrlST::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  range_ = std::abs(upper - lower);
  if (range_ == 0) range_ = 1;
}

void CProgressCtrlST::SetPos(int position) {
  pos_ = std::clamp(position, std::min(lower_, upper_), std::max(lower_, upper_));
}

int CProgressCtrlST::SetBitmap(Picture picture) {
  bitmap_ = Picture();
  if (picture.empty()) return 1;
  bitmap_ = std::move(picture);
  return 0;
}

SDL_Rect CProgressCtrlST::FillRect(int width, int height) const {
  const SDL_Rect inner{1, 1, width - 2, height - 2};
  const int percentage = static_cast<int>((std::abs(lower_) + pos_) * 100.0 / range_);
  const int fillWidth = static_cast<int>((inner.w / 100.0) * percentage);
  int right = inner.x + fillWidth;
  if (right > inner.x + inner.w) right = inner.x + inner.w - 1;
  return {inner.x, inner.y, std::max(right - inner.x, 0), inner.h};
}

void CProgressCtrlST::Paint(SDL_Surface* target, const SDL_Rect& client) const {
  SDL_Rect area = client;
  SDL_FillRect(target, &area, SDL_MapRGB(target->format, kBackground.r, kBackground.g, kBackground.b));
  if (bitmap_.empty()) return;
  const SDL_Rect fill = FillRect(client.w, client.h);
  SDL_Surface* tile = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(bitmap_.rgb.data()), bitmap_.width,
                                                         bitmap_.height, 24, bitmap_.width * 3, SDL_PIXELFORMAT_RGB24);
  if (tile == nullptr) return;
  const SDL_Rect fillOnTarget{client.x + fill.x, client.y + fill.y, fill.w, fill.h};
  SDL_Rect previousClip;
  SDL_GetClipRect(target, &previousClip);
  SDL_SetClipRect(target, &fillOnTarget);
  for (int y = fillOnTarget.y; y < fillOnTarget.y + fillOnTarget.h; y += bitmap_.height) {
    for (int x = fillOnTarget.x; x < fillOnTarget.x + fillOnTarget.w; x += bitmap_.width) {
      SDL_Rect at{x, y, bitmap_.width, bitmap_.height};
      SDL_BlitSurface(tile, nullptr, target, &at);
    }
  }
  SDL_SetClipRect(target, &previousClip);
  SDL_FreeSurface(tile);
}
