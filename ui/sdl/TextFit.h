// Fitting a text into the room a window gives it: the largest of a few font
// sizes with which the text fits, else the smallest size with the text
// shortened to end with "…". Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/sdl/TextWrap.h"

// One size of a font: its cell height (the pitch of its lines) and its widths.
struct FontMeasure {
  int cellHeight;
  TextMeasure measure;
};

struct FittedText {
  size_t font = 0;  // index of the size used
  std::vector<std::string> lines;
  bool shortened = false;  // the last line ends with "…" in place of the rest
};

// The text wrapped (TextWrap.h) to `width` with the first of `fonts` (from
// the largest) that needs no more lines than fit in `height` (one line at
// least). When none does, the smallest size keeps the lines that fit, and
// the last of them loses characters at its end (and the blanks before them)
// until it fits with "…" after it.
FittedText FitText(std::string_view text, int width, int height, const std::vector<FontMeasure>& fonts);

// The ellipsis that ends a shortened text.
inline constexpr std::string_view kEllipsis = "…";
