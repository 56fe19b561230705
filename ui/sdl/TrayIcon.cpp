#include "ui/sdl/TrayIcon.h"

#include <optional>

#include "ui/TrayMessages.h"
#include "ui/sdl/PictureIds.h"
#include "ui/sdl/PictureResource.h"
#include "util/LaunchLog.h"

namespace {

constexpr const char* kTrayTip = "TovaLaunhcer";
// The icon's identifier within the window (wParam of UM_TRAY_NOTIFY).
constexpr WParam kTrayIconId = 1;

}  // namespace

StatusNotifierItem::Pixmap TrayPixmapFromPicture(const Picture& picture) {
  StatusNotifierItem::Pixmap pixmap{picture.width, picture.height, {}};
  pixmap.argb.reserve(static_cast<size_t>(picture.width) * picture.height * 4);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const Rgb c = picture.At(x, y);
      if (c == kWhite) {
        pixmap.argb.insert(pixmap.argb.end(), {0, 0, 0, 0});
      } else {
        pixmap.argb.insert(pixmap.argb.end(), {255, c.r, c.g, c.b});
      }
    }
  }
  return pixmap;
}

std::unique_ptr<StatusNotifierItem> AddTrayIcon(MessageWindow* window) {
  const std::optional<Picture> icon = LoadPictureResource(IDI_MAIN_ICON);
  if (!icon) return nullptr;
  StatusNotifierItem::Setup setup;
  setup.title = kTrayTip;
  setup.icon = TrayPixmapFromPicture(*icon);
  setup.target = window;
  setup.activate = {UM_TRAY_NOTIFY, kTrayIconId, kTrayLeftButtonDown};
  setup.unavailable = [](const std::string& reason) {
    WriteLaunchLog("tray icon not shown: %s, running without it", reason.c_str());
  };
  return std::make_unique<StatusNotifierItem>(std::move(setup));
}
