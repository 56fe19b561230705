#include "ui/sdl/WindowFont.h"

#include <fontconfig/fontconfig.h>

#include <cmath>
#include <string_view>

#include "ui/sdl/SdlSurface.h"

namespace {

// The family the windows ask for, under its Chinese and its English name.
constexpr const char* kWindowFamilies[] = {"微软雅黑", "Microsoft YaHei"};
// The Japanese font preferred when the window font is missing.
constexpr const char* kJapaneseFamily = "IPAPGothic";
// The em of "微软雅黑" per pixel of its cell: 2048 units per em in a cell of
// 2167 units of ascent and 536 of descent.
constexpr double kEmPerCell = 2048.0 / (2167 + 536);

struct PatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

// fontconfig's best match for `family` (and `language` when given). It always
// finds something, so callers check what it found.
PatternPtr Match(const char* family, const char* language) {
  PatternPtr pattern(FcPatternCreate());
  if (!pattern) return nullptr;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  if (language != nullptr) FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(language));
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  return PatternPtr(FcFontMatch(nullptr, pattern.get(), &result));
}

bool HasFamily(FcPattern* font, std::string_view family) {
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    if (family == reinterpret_cast<const char*>(name)) return true;
  }
  return false;
}

bool SupportsJapanese(FcPattern* font) {
  FcLangSet* languages = nullptr;
  return FcPatternGetLangSet(font, FC_LANG, 0, &languages) == FcResultMatch &&
         FcLangSetHasLang(languages, reinterpret_cast<const FcChar8*>("ja")) != FcLangDifferentLang;
}

std::optional<WindowFont::File> FileOf(FcPattern* font) {
  FcChar8* path = nullptr;
  if (FcPatternGetString(font, FC_FILE, 0, &path) != FcResultMatch) return std::nullopt;
  int index = 0;
  FcPatternGetInteger(font, FC_INDEX, 0, &index);
  return WindowFont::File{reinterpret_cast<const char*>(path), index};
}

}  // namespace

std::optional<WindowFont::File> WindowFont::Find() {
  for (const char* family : kWindowFamilies) {
    PatternPtr font = Match(family, nullptr);
    if (font && HasFamily(font.get(), family)) return FileOf(font.get());
  }
  PatternPtr japanese = Match(kJapaneseFamily, "ja");
  if (japanese && SupportsJapanese(japanese.get())) return FileOf(japanese.get());
  return std::nullopt;
}

std::unique_ptr<WindowFont> WindowFont::Open(const File& file, int cellHeight) {
  // SDL2_ttf's size is the em in pixels.
  const int em = static_cast<int>(std::lround(cellHeight * kEmPerCell));
  TTF_Font* font = TTF_OpenFontIndex(file.path.c_str(), em, file.index);
  if (font == nullptr) return nullptr;
  return std::unique_ptr<WindowFont>(new WindowFont(font, cellHeight));
}

WindowFont::~WindowFont() { TTF_CloseFont(font_); }

int WindowFont::Measure(std::string_view text) const {
  int width = 0;
  int height = 0;
  TTF_SizeUTF8(font_, std::string(text).c_str(), &width, &height);
  return width;
}

void WindowFont::DrawLine(SDL_Surface* target, std::string_view text, SDL_Point at, SDL_Color colour) const {
  if (text.empty()) return;
  SurfacePtr rendered(TTF_RenderUTF8_Blended(font_, std::string(text).c_str(), colour));
  if (!rendered) return;
  SDL_Rect place{at.x, at.y, rendered->w, rendered->h};
  SDL_BlitSurface(rendered.get(), nullptr, target, &place);
}
