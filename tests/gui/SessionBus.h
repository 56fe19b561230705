// A private session bus for the tray icon tests, and a host on it: a test
// watcher that owns org.kde.StatusNotifierWatcher when told to, records the
// items that register with it, and reads and calls them as a panel does.
#pragma once

#include <dbus/dbus.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/gui/ChildServer.h"
#include "tests/support/TempDir.h"

namespace guitest {

// dbus-daemon with a configuration of its own (one socket in a temporary
// folder, everything allowed); DBUS_SESSION_BUS_ADDRESS names it for the
// life of the object.
class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  bool running() const { return !address_.empty(); }

 private:
  testsupport::TempDir folder_;
  pid_t pid_ = -1;
  std::string address_;
  std::optional<EnvironmentOverride> variable_;
};

struct ItemPixmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> argb;
};

class TestWatcher {
 public:
  // Connects to the bus that DBUS_SESSION_BUS_ADDRESS names.
  TestWatcher();
  ~TestWatcher();
  TestWatcher(const TestWatcher&) = delete;
  TestWatcher& operator=(const TestWatcher&) = delete;

  bool connected() const { return connection_ != nullptr; }
  // Takes the watcher's name; true when this connection owns it.
  bool OwnWatcherName();

  // Answers calls until an item has registered, up to `timeout`, running
  // `between` after each turn; the bus name the item registered.
  std::optional<std::string> WaitForRegistration(std::chrono::milliseconds timeout,
                                                 const std::function<void()>& between);

  // A string property of the item, or of the struct property `name` its
  // field `field` (the tooltip's title is field 2 of ToolTip).
  std::optional<std::string> StringProperty(const std::string& item, const char* name, int field = -1);
  // The item's IconPixmap entries.
  std::optional<std::vector<ItemPixmap>> IconPixmaps(const std::string& item);
  // Calls the item's method with two int32 arguments (Scroll: an int32 and
  // a string); the error name, empty when the call succeeded.
  std::string CallItem(const std::string& item, const char* method);

  bool NameHasOwner(const std::string& name);

 private:
  // The reply to `call` (taken), or null after an error (its name in `errorName`).
  DBusMessage* Call(DBusMessage* call, std::string* errorName = nullptr);
  DBusMessage* GetProperty(const std::string& item, const char* name);
  static DBusHandlerResult OnMessage(DBusConnection* connection, DBusMessage* message, void* data);

  DBusConnection* connection_ = nullptr;
  std::vector<std::string> registered_;
};

}  // namespace guitest
