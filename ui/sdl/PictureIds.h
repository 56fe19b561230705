// The launcher's pictures, by resource number, with their sizes. The pictures
// are drawn by ui/sdl/pictures/MakePictures.cpp at build time and built into
// the program (see PictureResource.h).
#pragma once

struct PictureSize {
  int width;
  int height;
};

inline constexpr int IDI_MAIN_ICON = 128;        // window icon
inline constexpr int IDB_MAIN_BACKGROUND = 130;  // main window face and shape
inline constexpr int IDB_PROGRESS_FILL = 131;    // progress bar fill
inline constexpr int IDB_BOX_BACKGROUND = 132;   // message box face and shape
inline constexpr int IDB_BOX_NO_NORMAL = 134;    // いいえ
inline constexpr int IDB_BOX_YES_NORMAL = 137;   // はい
inline constexpr int IDB_BOX_NO_MASK = 139;
inline constexpr int IDB_BOX_NO_PRESSED = 140;
inline constexpr int IDB_BOX_YES_MASK = 141;
inline constexpr int IDB_BOX_YES_PRESSED = 142;

inline constexpr PictureSize kIconSize{32, 32};
inline constexpr PictureSize kMainBackgroundSize{725, 400};
inline constexpr PictureSize kProgressFillSize{321, 17};
inline constexpr PictureSize kBoxBackgroundSize{450, 200};
inline constexpr PictureSize kBoxButtonSize{113, 39};
