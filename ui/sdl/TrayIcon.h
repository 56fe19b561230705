// The main window's notification-area icon: the window's icon picture (its
// white pixels transparent) and the tip "TovaLaunhcer" as a
// StatusNotifierItem (platform/StatusNotifierItem.h). A click on it posts
// UM_TRAY_NOTIFY with the left button's mouse event to the window. When it
// cannot be shown, the launch log says why, once, and the window goes on
// without it.
#pragma once

#include <memory>

#include "platform/StatusNotifierItem.h"
#include "ui/sdl/Picture.h"

// The picture as a tray pixmap: exactly white pixels transparent, the others opaque.
StatusNotifierItem::Pixmap TrayPixmapFromPicture(const Picture& picture);

// The icon for `window`, which must outlive it; null when the icon picture is missing.
std::unique_ptr<StatusNotifierItem> AddTrayIcon(MessageWindow* window);
