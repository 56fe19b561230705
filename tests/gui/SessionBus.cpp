#include "tests/gui/SessionBus.h"

#include <cstdlib>
#include <cstring>

namespace guitest {

namespace {

constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
// The longest a call may take before the test calls it a failure.
constexpr int kCallTimeoutMs = 10000;

std::string BusConfiguration(const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:path=" +
         socket +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

std::optional<ItemPixmap> ReadPixmap(DBusMessageIter* entry) {
  ItemPixmap pixmap;
  DBusMessageIter field;
  dbus_message_iter_recurse(entry, &field);
  if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_INT32) return std::nullopt;
  dbus_message_iter_get_basic(&field, &pixmap.width);
  dbus_message_iter_next(&field);
  if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_INT32) return std::nullopt;
  dbus_message_iter_get_basic(&field, &pixmap.height);
  dbus_message_iter_next(&field);
  if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_ARRAY) return std::nullopt;
  DBusMessageIter bytes;
  dbus_message_iter_recurse(&field, &bytes);
  const uint8_t* data = nullptr;
  int count = 0;
  dbus_message_iter_get_fixed_array(&bytes, &data, &count);
  pixmap.argb.assign(data, data + count);
  return pixmap;
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
  const std::string config = (folder_.path() / "bus.conf").string();
  testsupport::WriteFile(config, BusConfiguration((folder_.path() / "bus").string()));
  const ReadyChild child = StartReadyChild([&](int fd) {
    return std::vector<std::string>{"dbus-daemon", "--config-file=" + config, "--nofork",
                                    "--print-address=" + std::to_string(fd)};
  });
  pid_ = child.pid;
  address_ = child.line;
  if (running()) variable_.emplace("DBUS_SESSION_BUS_ADDRESS", address_);
}

PrivateSessionBus::~PrivateSessionBus() {
  variable_.reset();
  StopChild(pid_);
}

TestWatcher::TestWatcher() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr) return;
  connection_ = dbus_connection_open_private(address, nullptr);
  if (connection_ == nullptr) return;
  dbus_connection_set_exit_on_disconnect(connection_, FALSE);
  if (!dbus_bus_register(connection_, nullptr)) {
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
    connection_ = nullptr;
    return;
  }
  dbus_connection_add_filter(connection_, &TestWatcher::OnMessage, this, nullptr);
}

TestWatcher::~TestWatcher() {
  if (connection_ == nullptr) return;
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
}

bool TestWatcher::OwnWatcherName() {
  return dbus_bus_request_name(connection_, kWatcher, DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr) ==
         DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
}

DBusHandlerResult TestWatcher::OnMessage(DBusConnection* connection, DBusMessage* message, void* data) {
  if (!dbus_message_is_method_call(message, kWatcher, "RegisterStatusNotifierItem")) {
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }
  const char* item = nullptr;
  if (dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &item, DBUS_TYPE_INVALID)) {
    static_cast<TestWatcher*>(data)->registered_.push_back(item);
  }
  DBusMessage* reply = dbus_message_new_method_return(message);
  dbus_connection_send(connection, reply, nullptr);
  dbus_message_unref(reply);
  return DBUS_HANDLER_RESULT_HANDLED;
}

std::optional<std::string> TestWatcher::WaitForRegistration(std::chrono::milliseconds timeout,
                                                            const std::function<void()>& between) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (registered_.empty() && std::chrono::steady_clock::now() < deadline) {
    dbus_connection_read_write_dispatch(connection_, 5);
    between();
  }
  if (registered_.empty()) return std::nullopt;
  return registered_.front();
}

DBusMessage* TestWatcher::Call(DBusMessage* call, std::string* errorName) {
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection_, call, kCallTimeoutMs, &error);
  dbus_message_unref(call);
  if (dbus_error_is_set(&error) && errorName != nullptr) *errorName = error.name;
  dbus_error_free(&error);
  return reply;
}

DBusMessage* TestWatcher::GetProperty(const std::string& item, const char* name) {
  DBusMessage* call = dbus_message_new_method_call(item.c_str(), kItemPath, "org.freedesktop.DBus.Properties", "Get");
  dbus_message_append_args(call, DBUS_TYPE_STRING, &kItemInterface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
  return Call(call);
}

std::optional<std::string> TestWatcher::StringProperty(const std::string& item, const char* name, int field) {
  DBusMessage* reply = GetProperty(item, name);
  if (reply == nullptr) return std::nullopt;
  std::optional<std::string> text;
  DBusMessageIter iter;
  DBusMessageIter value;
  dbus_message_iter_init(reply, &iter);
  dbus_message_iter_recurse(&iter, &value);
  if (field >= 0) {
    DBusMessageIter fields;
    dbus_message_iter_recurse(&value, &fields);
    for (int i = 0; i < field; ++i) dbus_message_iter_next(&fields);
    value = fields;
  }
  if (dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
    const char* chars = nullptr;
    dbus_message_iter_get_basic(&value, &chars);
    text = chars;
  }
  dbus_message_unref(reply);
  return text;
}

std::optional<std::vector<ItemPixmap>> TestWatcher::IconPixmaps(const std::string& item) {
  DBusMessage* reply = GetProperty(item, "IconPixmap");
  if (reply == nullptr) return std::nullopt;
  std::optional<std::vector<ItemPixmap>> pixmaps(std::in_place);
  DBusMessageIter iter;
  DBusMessageIter value;
  DBusMessageIter list;
  dbus_message_iter_init(reply, &iter);
  dbus_message_iter_recurse(&iter, &value);
  dbus_message_iter_recurse(&value, &list);
  while (dbus_message_iter_get_arg_type(&list) == DBUS_TYPE_STRUCT) {
    std::optional<ItemPixmap> pixmap = ReadPixmap(&list);
    if (!pixmap) {
      pixmaps.reset();
      break;
    }
    pixmaps->push_back(std::move(*pixmap));
    dbus_message_iter_next(&list);
  }
  dbus_message_unref(reply);
  return pixmaps;
}

std::string TestWatcher::CallItem(const std::string& item, const char* method) {
  DBusMessage* call = dbus_message_new_method_call(item.c_str(), kItemPath, kItemInterface, method);
  const int32_t x = 10;
  const int32_t y = 20;
  const char* orientation = "vertical";
  if (std::strcmp(method, "Scroll") == 0) {
    dbus_message_append_args(call, DBUS_TYPE_INT32, &x, DBUS_TYPE_STRING, &orientation, DBUS_TYPE_INVALID);
  } else {
    dbus_message_append_args(call, DBUS_TYPE_INT32, &x, DBUS_TYPE_INT32, &y, DBUS_TYPE_INVALID);
  }
  std::string errorName;
  DBusMessage* reply = Call(call, &errorName);
  if (reply == nullptr) return errorName;
  dbus_message_unref(reply);
  return {};
}

bool TestWatcher::NameHasOwner(const std::string& name) {
  DBusError error;
  dbus_error_init(&error);
  const bool owned = dbus_bus_name_has_owner(connection_, name.c_str(), &error);
  dbus_error_free(&error);
  return owned;
}

}  // namespace guitest
