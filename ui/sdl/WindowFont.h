// The font of the windows' texts: "微软雅黑" when fontconfig knows a font of
// that family, otherwise a Japanese font (the IPA gothic of
// fonts-ipafont-gothic when installed). Sizes are given as for Windows: the
// cell height (ascent plus descent) of "微软雅黑" in pixels. Every font is
// opened at the em size that gives "微软雅黑" that cell, so a fallback font,
// whose cell is smaller for its em, takes the width the windows' layout was
// made for instead of growing wider. The weights the windows ask for (200 to
// 500) are all drawn as the regular face.
//
// Thread: the thread that draws the windows (SDL2_ttf started).
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class WindowFont {
 public:
  struct File {
    std::string path;
    int index = 0;  // face within a collection
  };

  // The window font's file; nothing when fontconfig finds neither
  // "微软雅黑" nor any font for Japanese.
  static std::optional<File> Find();

  // The font at the size for the cell height `cellHeight`; null when the
  // file cannot be opened.
  static std::unique_ptr<WindowFont> Open(const File& file, int cellHeight);

  ~WindowFont();
  WindowFont(const WindowFont&) = delete;
  WindowFont& operator=(const WindowFont&) = delete;

  int cellHeight() const { return cellHeight_; }
  // Width in pixels of a UTF-8 text on one line.
  int Measure(std::string_view text) const;

  // Draws UTF-8 `text` on one line with the top-left corner of its cell at
  // `at`, antialiased over what `target` shows (and within its clip).
  void DrawLine(SDL_Surface* target, std::string_view text, SDL_Point at, SDL_Color colour) const;

 private:
  WindowFont(TTF_Font* font, int cellHeight) : font_(font), cellHeight_(cellHeight) {}

  TTF_Font* font_;
  int cellHeight_;
};
