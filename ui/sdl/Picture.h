// A picture as 24-bit pixels, red, green and blue bytes row by row, without
// padding. Exactly white pixels (255, 255, 255) are the holes of a window
// shape and the outside of a button mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kWhite{255, 255, 255};

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes

  Picture() = default;
  // A picture of the given size filled with `fill`.
  Picture(int width, int height, Rgb fill = kWhite);

  bool empty() const { return width <= 0 || height <= 0; }
  // The pixel at (x, y), which must lie inside the picture.
  Rgb At(int x, int y) const;
  void Set(int x, int y, Rgb colour);
  bool IsWhite(int x, int y) const { return At(x, y) == kWhite; }

 private:
  size_t Offset(int x, int y) const;
};
