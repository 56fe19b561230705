// A notification-area icon on Linux desktops: a StatusNotifierItem on the
// session D-Bus, the icon that KDE Plasma, XFCE, Cinnamon, Budgie and GNOME
// with its AppIndicator extension show. The item registers with
// org.kde.StatusNotifierWatcher, shows one pixmap with a title and tooltip,
// and posts a message to a window when the host activates it (a left click);
// a context menu, a secondary activation and scrolling do nothing.
//
// All bus work runs on a thread of the item's own, which owns the connection;
// the UI thread never waits for the bus. The bus address is
// DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus; no session bus is ever
// started for the item (a new bus would have no host to show it). A watcher
// that appears later (a panel started after the launcher, or restarted) gets
// the item registered again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageWindow.h"

class StatusNotifierItem {
 public:
  // ARGB32 pixels in network byte order (alpha, red, green, blue), row by row.
  struct Pixmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> argb;
  };

  struct Setup {
    std::string title;  // the item's Id and Title, and its tooltip's title
    Pixmap icon;
    // Receives `activate` (posted) when the host activates the item; must
    // outlive the item.
    MessageWindow* target = nullptr;
    Message activate;
    // Called at most once, on the item's thread, when the icon cannot be
    // shown: no session bus, or no watcher took the item. The reason is one
    // short text.
    std::function<void(const std::string& reason)> unavailable;
  };

  // Starts the item's thread, which connects and registers.
  explicit StatusNotifierItem(Setup setup);
  // Takes the item off the bus: its name is released and the connection
  // closed before this returns.
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // The item's object path on its bus name "org.kde.StatusNotifierItem-<pid>-<n>".
  static constexpr const char* kObjectPath = "/StatusNotifierItem";

 private:
  class Bus;
  std::unique_ptr<Bus> bus_;
};
