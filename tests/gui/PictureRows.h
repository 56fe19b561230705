// Small pictures for tests, drawn as rows of characters: '#' black, '.'
// white, 'n' almost white (254, 255, 255), 'r', 'g', 'b' pure red, green
// and blue.
#pragma once

#include <string>
#include <vector>

#include "ui/sdl/Picture.h"

namespace guitest {

inline Picture PictureFromRows(const std::vector<std::string>& rows) {
  Picture picture(rows.empty() ? 0 : static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      switch (rows[static_cast<size_t>(y)][static_cast<size_t>(x)]) {
        case '#': picture.Set(x, y, {0, 0, 0}); break;
        case 'n': picture.Set(x, y, {254, 255, 255}); break;
        case 'r': picture.Set(x, y, {255, 0, 0}); break;
        case 'g': picture.Set(x, y, {0, 255, 0}); break;
        case 'b': picture.Set(x, y, {0, 0, 255}); break;
        default: break;  // white
      }
    }
  }
  return picture;
}

}  // namespace guitest
