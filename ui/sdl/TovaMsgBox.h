// The message box: a 450 x 200 window shaped from its picture and centred
// over its owner, with the caption (white, cell height 28) and the message
// text (light cream, cell height 18), both centred, and two picture buttons:
// はい on the left answers 1, いいえ on the right answers 2. Enter answers as
// はい does; Escape, like every other key, does nothing. Closing the box any
// other way (the window manager's close) answers 2. Any point outside the
// buttons drags the box.
//
// The text is wrapped to its area. A text of more lines than the area holds
// (two) takes the band between the caption's underline and the buttons
// (kTextBand); what does not fit there takes a smaller size, and at the
// smallest its last line ends with "…" (TextFit.h). The caption, one line,
// ends with "…" when it is wider than its area.
//
// The box does not run a loop of its own: the owner's event loop hands it
// its window's events until it has an answer.
//
// Thread: the thread that draws the windows.
#pragma once

#include <SDL.h>

#include <memory>
#include <optional>
#include <string>

#include "ui/sdl/CxSkinButton.h"
#include "ui/sdl/ShapedWindow.h"

class FontLadder;

class TovaMsgBox {
 public:
  static constexpr SDL_Color kCaptionColour{255, 255, 255, 255};
  static constexpr SDL_Color kTextColour{255, 234, 193, 255};
  static constexpr int kCaptionFontHeight = 28;
  static constexpr int kTextFontHeight = 18;
  static constexpr SDL_Rect kCaptionRect{110, 40, 230, 25};
  static constexpr SDL_Rect kTextRect{40, 85, 370, 50};
  static constexpr size_t kTextRectLines = 2;
  // The free band under the caption's underline (y 75 and 76) and above the
  // buttons (y 135), for texts of more lines than kTextRect holds.
  static constexpr SDL_Rect kTextBand{40, 79, 370, 54};
  static constexpr SDL_Point kYesButtonAt{55, 135};
  static constexpr SDL_Point kNoButtonAt{280, 135};
  static constexpr int kYes = 1;
  static constexpr int kNo = 2;

  // Shows the box centred over `ownerBounds` (the owner's position and size
  // on the screen), above `owner`. The fonts (the caption's, and the text's
  // from cell height 18) must outlive the box. Null when its pictures or its
  // window cannot be made.
  static std::unique_ptr<TovaMsgBox> Create(const std::string& text, const std::string& caption,
                                            const SDL_Rect& ownerBounds, SDL_Window* owner,
                                            const FontLadder& captionFont, const FontLadder& textFonts);

  // Where a text of `lines` lines is drawn.
  static SDL_Rect TextArea(size_t lines);

  Uint32 windowId() const { return window_->id(); }
  SDL_Rect Bounds() const { return window_->Bounds(); }

  // An event of the box's window (mouse, window events) or a key; others are
  // ignored.
  // `pointer` is the pointer's screen position at the event.
  void HandleEvent(const SDL_Event& event, SDL_Point pointer);

  // 1 or 2 once the box has been answered.
  std::optional<int> answer() const { return answer_; }

 private:
  TovaMsgBox(std::unique_ptr<ShapedWindow> window, SurfacePtr frame)
      : window_(std::move(window)), frame_(std::move(frame)) {}
  void Paint();
  void HandleMouse(const SDL_Event& event, SDL_Point pointer);

  std::unique_ptr<ShapedWindow> window_;
  SurfacePtr frame_;
  SurfacePtr face_;  // the picture with the caption and the text
  CxSkinButton yes_;
  CxSkinButton no_;
  std::optional<int> answer_;
};
