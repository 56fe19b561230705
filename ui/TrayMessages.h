#pragma once

#include "platform/MessageWindow.h"

// The main window's own: tray icon notification from the front-end; wParam
// the icon's identifier, lParam the mouse event.
inline constexpr MessageId UM_TRAY_NOTIFY = 0x466;

// The mouse event of a left click on the icon (lParam), which shows the window.
inline constexpr LParam kTrayLeftButtonDown = 0x201;
