#pragma once

#include "platform/MessageWindow.h"

// The main window's own: tray icon notification from the front-end; wParam
// the icon's identifier, lParam the mouse event.
inline constexpr MessageId UM_TRAY_NOTIFY = 0x466;
