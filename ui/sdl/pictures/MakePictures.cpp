// Draws the launcher's pictures (the two window faces with their shapes, the
// progress fill, the message box buttons and their masks, the icon) and
// writes each as "<id>.png" into the output folder, together with
// "EmbeddedPictures.cpp", which holds their bytes for the program:
//
//   make_pictures <font file> <output folder>
//
// White pixels are the holes of a shape; every other pure white is drawn
// as (254, 254, 254). The same font file gives the same pictures.
#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/sdl/PictureIds.h"
#include "ui/sdl/pictures/Drawing.h"

namespace {

using namespace drawing;

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGold{214, 172, 88};
constexpr Rgb kGoldLight{246, 216, 142};
constexpr Rgb kGoldDark{142, 102, 44};
constexpr Rgb kCream{252, 244, 222};

// Deterministic numbers for the stars.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  int Next(int bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<int>((state_ >> 8) % static_cast<uint32_t>(bound));
  }

 private:
  uint32_t state_;
};

// Main window: a rounded body, a title tab above its left part and a round
// emblem above its right part with a diamond-shaped hole in the middle.
bool InMainShape(int x, int y) {
  const bool body = InRoundedRect(x, y, 0, 34, 725, 366, 26);
  const bool tab = InRoundedRect(x, y, 22, 0, 280, 72, 18);
  const bool emblem = InCircle(x, y, 648, 60, 54);
  const bool diamond = std::abs(x + 0.5 - 648) + std::abs(y + 0.5 - 60) < 17;
  return (body || tab || emblem) && !diamond;
}

double Distance(int x, int y, double cx, double cy) { return std::hypot(x + 0.5 - cx, y + 0.5 - cy); }

// The dark panel behind the text controls and the progress bar.
bool InTextPanel(int x, int y) { return InRoundedRect(x, y, 20, 246, 360, 138, 10); }

Picture MainBackground(TTF_Font* titleFont) {
  const PictureSize size = kMainBackgroundSize;
  Picture p(size.width, size.height);
  Fill(p, InMainShape, [&](int, int y) { return Mix({40, 42, 96}, {10, 12, 30}, y / (size.height - 1.0)); });

  // Moon with its glow.
  constexpr double kMoonX = 470, kMoonY = 124, kMoonR = 44, kGlowR = 84;
  Fill(
      p, [&](int x, int y) { return InMainShape(x, y) && Distance(x, y, kMoonX, kMoonY) < kGlowR; },
      [&](int x, int y) {
        const double d = Distance(x, y, kMoonX, kMoonY);
        if (d > kMoonR) return Mix(p.At(x, y), {150, 146, 130}, 0.35 * (kGlowR - d) / (kGlowR - kMoonR));
        const double shade = (x + 0.5 - (kMoonX - kMoonR)) / (2 * kMoonR);
        return Mix({248, 238, 196}, {208, 196, 150}, shade);
      });
  const struct { double x, y, r; } craters[] = {{456, 110, 9}, {484, 138, 6}, {472, 150, 4}, {490, 108, 5}};
  for (const auto& c : craters) {
    Fill(
        p, [&](int x, int y) { return InCircle(x, y, c.x, c.y, c.r); },
        [&](int x, int y) {
          return Mix(p.At(x, y), {160, 150, 112}, 0.45);
        });
  }

  // Stars in the sky above the ridges, clear of the moon and the panel.
  Lcg random(20240611u);
  for (int i = 0; i < 190; ++i) {
    const int x = random.Next(size.width);
    const int y = 8 + random.Next(232);
    const int brightness = 120 + random.Next(120);
    if (!InMainShape(x, y) || Distance(x, y, kMoonX, kMoonY) < kGlowR) continue;
    const Rgb star{static_cast<uint8_t>(brightness), static_cast<uint8_t>(brightness),
                   static_cast<uint8_t>(std::min(brightness + 12, 250))};
    Blend(p, x, y, star, 1.0);
    if (random.Next(6) == 0) {  // a brighter star with a small cross
      for (const auto& [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
        if (InMainShape(x + dx, y + dy)) Blend(p, x + dx, y + dy, star, 0.5);
      }
    }
  }

  // Two mountain ridges.
  const auto farRidge = [](int x) {
    return 232 + 22 * std::sin(x / 57.0) + 14 * std::sin(x / 23.0 + 1.3) + 5 * std::sin(x / 9.0);
  };
  const auto nearRidge = [](int x) {
    return 298 + 24 * std::sin(x / 83.0 + 2.0) + 10 * std::sin(x / 31.0) + 4 * std::sin(x / 11.0 + 0.7);
  };
  Fill(
      p, [&](int x, int y) { return InMainShape(x, y) && y >= farRidge(x); },
      [&](int x, int y) {
        return Mix({34, 38, 80}, {20, 22, 52}, (y - farRidge(x)) / 120.0);
      });
  Fill(
      p, [&](int x, int y) { return InMainShape(x, y) && y >= nearRidge(x); },
      [&](int x, int y) {
        return Mix({18, 20, 44}, {8, 9, 22}, (y - nearRidge(x)) / 100.0);
      });

  // Panel behind the texts, with a thin border.
  Fill(p, InTextPanel, [&](int x, int y) { return Mix(p.At(x, y), kBlack, 0.55); });
  Frame(p, InTextPanel, 1, kGoldDark);

  // Emblem: a gold ring around a dark disc.
  constexpr double kEmblemX = 648, kEmblemY = 60;
  Fill(
      p, [&](int x, int y) { return InMainShape(x, y) && InCircle(x, y, kEmblemX, kEmblemY, 54); },
      [&](int x, int y) {
        const double d = Distance(x, y, kEmblemX, kEmblemY);
        if (d > 42) return Mix(kGoldLight, kGoldDark, (y - 6) / 108.0);
        if (d > 38) return kGoldDark;
        return Mix({30, 34, 84}, {14, 16, 44}, (y - 18) / 84.0);
      });

  Frame(p, InMainShape, 3, kGold);

  // Title on the tab.
  Text(p, titleFont, "TovaLauncher", 50, 17, kBlack);
  Text(p, titleFont, "TovaLauncher", 48, 15, kGoldLight);

  KeepHolesOnly(p, InMainShape);
  return p;
}

Picture ProgressFill() {
  const PictureSize size = kProgressFillSize;
  Picture p(size.width, size.height);
  Fill(
      p, [](int, int) { return true; },
      [&](int x, int y) {
        Rgb c = Mix({255, 214, 108}, {206, 106, 22}, y / (size.height - 1.0));
        if ((x + y) / 7 % 2 == 0) c = Mix(c, {120, 50, 0}, 0.14);  // diagonal stripes
        if (y <= 2) c = Mix(c, {255, 242, 206}, 0.4);              // gloss
        return c;
      });
  return p;
}

bool InBoxShape(int x, int y) {
  return InRoundedRect(x, y, 0, 0, kBoxBackgroundSize.width, kBoxBackgroundSize.height, 22);
}

Picture BoxBackground() {
  const PictureSize size = kBoxBackgroundSize;
  Picture p(size.width, size.height);
  Fill(p, InBoxShape, [&](int, int y) { return Mix({46, 50, 104}, {14, 16, 40}, y / (size.height - 1.0)); });

  // Band behind the caption, its underline and two ornaments.
  const auto inBand = [](int x, int y) { return InRoundedRect(x, y, 100, 34, 250, 38, 8); };
  Fill(p, inBand, [&](int x, int y) { return Mix(p.At(x, y), kBlack, 0.35); });
  Fill(
      p, [](int x, int y) { return y >= 75 && y <= 76 && x >= 110 && x < 340; },
      [&](int x, int y) { return Mix(p.At(x, y), kGold, 1.0 - std::abs(x - 225) / 125.0); });
  for (const double cx : {84.0, 366.0}) {
    Fill(
        p, [&](int x, int y) { return std::abs(x + 0.5 - cx) + std::abs(y + 0.5 - 53) <= 7; },
        [](int, int) { return kGold; });
  }

  Frame(p, InBoxShape, 3, kGold);
  const auto inInner = [&](int x, int y) { return InRoundedRect(x, y, 7, 7, size.width - 14, size.height - 14, 16); };
  Frame(p, inInner, 1, kGoldDark);

  KeepHolesOnly(p, InBoxShape);
  return p;
}

bool InButton(int x, int y) { return InRoundedRect(x, y, 0, 0, kBoxButtonSize.width, kBoxButtonSize.height, 13); }

// A button face: a gradient pill with its word; pressed faces are darker,
// shadowed at the top, with the word 1 pixel right and down.
Picture ButtonFace(TTF_Font* font, const std::string& word, Rgb top, Rgb bottom, bool pressed) {
  const PictureSize size = kBoxButtonSize;
  Picture p(size.width, size.height);
  Fill(p, InButton, [&](int, int y) { return Mix(top, bottom, y / (size.height - 1.0)); });
  if (pressed) {
    Fill(
        p, [](int x, int y) { return InButton(x, y) && y < 5; },
        [&](int x, int y) { return Mix(p.At(x, y), kBlack, 0.4 - y * 0.07); });
  } else {
    Fill(
        p, [](int x, int y) { return InButton(x, y) && y >= 2 && y < 8; },
        [&](int x, int y) { return Mix(p.At(x, y), kCream, 0.18); });
  }
  Frame(p, InButton, 1, pressed ? kGoldDark : kGoldLight);
  int width = 0;
  int height = 0;
  TextSize(font, word, width, height);
  const int offset = pressed ? 1 : 0;
  Text(p, font, word, (size.width - width) / 2 + offset, (size.height - height) / 2 + offset, kCream);
  KeepHolesOnly(p, InButton);
  return p;
}

// Black where the button is, white around it.
Picture ButtonMask() {
  Picture p(kBoxButtonSize.width, kBoxButtonSize.height);
  Fill(p, InButton, [](int, int) { return kBlack; });
  return p;
}

Picture Icon() {
  const PictureSize size = kIconSize;
  Picture p(size.width, size.height);
  const auto inIcon = [](int x, int y) { return InCircle(x, y, 16, 16, 15.5); };
  Fill(p, inIcon, [](int x, int y) {
    const double d = Distance(x, y, 16, 16);
    return d > 12 ? Mix(kGoldLight, kGoldDark, y / 31.0) : Rgb{24, 28, 72};
  });
  // A "T".
  Fill(
      p,
      [](int x, int y) {
        return (y >= 9 && y <= 12 && x >= 9 && x <= 22) || (x >= 14 && x <= 17 && y >= 9 && y <= 24);
      },
      [](int, int) { return kGoldLight; });
  KeepHolesOnly(p, inIcon);
  return p;
}

bool WritePng(const Picture& picture, const std::filesystem::path& path) {
  SDL_Surface* surface =
      SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(picture.rgb.data()), picture.width, picture.height, 24,
                                         picture.width * 3, SDL_PIXELFORMAT_RGB24);
  if (surface == nullptr) return false;
  const bool written = IMG_SavePNG(surface, path.c_str()) == 0;
  SDL_FreeSurface(surface);
  return written;
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The C++ source with every picture's PNG bytes, written beside and then
// moved into place, so that an interrupted run leaves no half file.
bool WriteSource(const std::vector<int>& ids, const std::filesystem::path& folder) {
  const std::filesystem::path target = folder / "EmbeddedPictures.cpp";
  const std::filesystem::path partial = folder / "EmbeddedPictures.cpp.part";
  {
    std::ofstream out(partial);
    out << "// Written by make_pictures (ui/sdl/pictures/MakePictures.cpp).\n"
           "#include \"ui/sdl/EmbeddedPictures.h\"\n\nnamespace {\n";
    for (const int id : ids) {
      const std::vector<unsigned char> bytes = ReadBytes(folder / (std::to_string(id) + ".png"));
      if (bytes.empty()) return false;
      out << "\nconst unsigned char kPicture" << id << "[] = {";
      for (size_t i = 0; i < bytes.size(); ++i) {
        out << (i % 20 == 0 ? "\n   " : "") << ' ' << static_cast<int>(bytes[i]) << ',';
      }
      out << "\n};\n";
    }
    out << "\n}  // namespace\n\nstd::span<const EmbeddedPicture> EmbeddedPictures() {\n"
           "  static const EmbeddedPicture pictures[] = {\n";
    for (const int id : ids) out << "      {" << id << ", kPicture" << id << ", sizeof(kPicture" << id << ")},\n";
    out << "  };\n  return pictures;\n}\n";
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(partial, target, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_pictures <font file> <output folder>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[2];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || TTF_Init() != 0 || (IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) == 0) {
    std::fprintf(stderr, "make_pictures: cannot start: %s\n", error ? error.message().c_str() : SDL_GetError());
    return 1;
  }
  TTF_Font* titleFont = TTF_OpenFont(argv[1], 30);
  TTF_Font* buttonFont = TTF_OpenFont(argv[1], 20);
  if (titleFont == nullptr || buttonFont == nullptr) {
    std::fprintf(stderr, "make_pictures: cannot open %s: %s\n", argv[1], TTF_GetError());
    return 1;
  }

  const struct {
    int id;
    Picture picture;
  } pictures[] = {
      {IDI_MAIN_ICON, Icon()},
      {IDB_MAIN_BACKGROUND, MainBackground(titleFont)},
      {IDB_PROGRESS_FILL, ProgressFill()},
      {IDB_BOX_BACKGROUND, BoxBackground()},
      {IDB_BOX_NO_NORMAL, ButtonFace(buttonFont, "いいえ", {104, 116, 156}, {48, 56, 88}, false)},
      {IDB_BOX_YES_NORMAL, ButtonFace(buttonFont, "はい", {206, 70, 58}, {128, 28, 26}, false)},
      {IDB_BOX_NO_MASK, ButtonMask()},
      {IDB_BOX_NO_PRESSED, ButtonFace(buttonFont, "いいえ", {60, 68, 104}, {32, 38, 62}, true)},
      {IDB_BOX_YES_MASK, ButtonMask()},
      {IDB_BOX_YES_PRESSED, ButtonFace(buttonFont, "はい", {140, 36, 30}, {96, 18, 18}, true)},
  };
  std::vector<int> ids;
  for (const auto& entry : pictures) {
    if (!WritePng(entry.picture, folder / (std::to_string(entry.id) + ".png"))) {
      std::fprintf(stderr, "make_pictures: cannot write picture %d: %s\n", entry.id, SDL_GetError());
      return 1;
    }
    ids.push_back(entry.id);
  }
  TTF_CloseFont(titleFont);
  TTF_CloseFont(buttonFont);
  TTF_Quit();
  IMG_Quit();
  if (!WriteSource(ids, folder)) {
    std::fprintf(stderr, "make_pictures: cannot write %s\n", (folder / "EmbeddedPictures.cpp").c_str());
    return 1;
  }
  return 0;
}
