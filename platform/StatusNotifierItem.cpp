#include "platform/StatusNotifierItem.h"

#include <dbus/dbus.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kWatcherAppeared =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.kde.StatusNotifierWatcher'";

constexpr const char* kIntrospection =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\" "
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node><interface name=\"org.kde.StatusNotifierItem\">"
    "<method name=\"Activate\"><arg type=\"i\"/><arg type=\"i\"/></method>"
    "<method name=\"SecondaryActivate\"><arg type=\"i\"/><arg type=\"i\"/></method>"
    "<method name=\"ContextMenu\"><arg type=\"i\"/><arg type=\"i\"/></method>"
    "<method name=\"Scroll\"><arg type=\"i\"/><arg type=\"s\"/></method>"
    "<property name=\"Category\" type=\"s\" access=\"read\"/>"
    "<property name=\"Id\" type=\"s\" access=\"read\"/>"
    "<property name=\"Title\" type=\"s\" access=\"read\"/>"
    "<property name=\"Status\" type=\"s\" access=\"read\"/>"
    "<property name=\"WindowId\" type=\"i\" access=\"read\"/>"
    "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
    "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
    "<property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>"
    "<property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
    "<property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>"
    "<property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
    "<property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>"
    "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
    "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
    "</interface>"
    "<interface name=\"org.freedesktop.DBus.Properties\">"
    "<method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>"
    "<method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"out\"/></method>"
    "</interface>"
    "<interface name=\"org.freedesktop.DBus.Introspectable\">"
    "<method name=\"Introspect\"><arg type=\"s\" direction=\"out\"/></method>"
    "</interface></node>\n";

// The session bus of this user, or empty when there is none to join.
std::string SessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return {};
  const std::string socket = std::string(runtime) + "/bus";
  struct stat info {};
  if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return {};
  return "unix:path=" + socket;
}

void AppendString(DBusMessageIter* iter, const std::string& text) {
  const char* chars = text.c_str();
  dbus_message_iter_append_basic(iter, DBUS_TYPE_STRING, &chars);
}

void AppendInt(DBusMessageIter* iter, int32_t value) { dbus_message_iter_append_basic(iter, DBUS_TYPE_INT32, &value); }

// a(iiay): the pixmap, or an empty list.
void AppendPixmaps(DBusMessageIter* iter, const StatusNotifierItem::Pixmap* pixmap) {
  DBusMessageIter list;
  dbus_message_iter_open_container(iter, DBUS_TYPE_ARRAY, "(iiay)", &list);
  if (pixmap != nullptr) {
    DBusMessageIter entry;
    DBusMessageIter bytes;
    dbus_message_iter_open_container(&list, DBUS_TYPE_STRUCT, nullptr, &entry);
    AppendInt(&entry, pixmap->width);
    AppendInt(&entry, pixmap->height);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_ARRAY, "y", &bytes);
    const uint8_t* data = pixmap->argb.data();
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, static_cast<int>(pixmap->argb.size()));
    dbus_message_iter_close_container(&entry, &bytes);
    dbus_message_iter_close_container(&list, &entry);
  }
  dbus_message_iter_close_container(iter, &list);
}

struct Property {
  const char* name;
  const char* signature;
  void (*append)(DBusMessageIter*, const StatusNotifierItem::Setup&);
};

using Setup = StatusNotifierItem::Setup;

// The item's properties: one passive pixmap item without a menu.
constexpr Property kProperties[] = {
    {"Category", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, "ApplicationStatus"); }},
    {"Id", "s", [](DBusMessageIter* i, const Setup& s) { AppendString(i, s.title); }},
    {"Title", "s", [](DBusMessageIter* i, const Setup& s) { AppendString(i, s.title); }},
    {"Status", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, "Active"); }},
    {"WindowId", "i", [](DBusMessageIter* i, const Setup&) { AppendInt(i, 0); }},
    {"IconName", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, ""); }},
    {"IconPixmap", "a(iiay)", [](DBusMessageIter* i, const Setup& s) { AppendPixmaps(i, &s.icon); }},
    {"OverlayIconName", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, ""); }},
    {"OverlayIconPixmap", "a(iiay)", [](DBusMessageIter* i, const Setup&) { AppendPixmaps(i, nullptr); }},
    {"AttentionIconName", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, ""); }},
    {"AttentionIconPixmap", "a(iiay)", [](DBusMessageIter* i, const Setup&) { AppendPixmaps(i, nullptr); }},
    {"AttentionMovieName", "s", [](DBusMessageIter* i, const Setup&) { AppendString(i, ""); }},
    {"ToolTip", "(sa(iiay)ss)",
     [](DBusMessageIter* i, const Setup& s) {
       DBusMessageIter tip;
       dbus_message_iter_open_container(i, DBUS_TYPE_STRUCT, nullptr, &tip);
       AppendString(&tip, "");
       AppendPixmaps(&tip, nullptr);
       AppendString(&tip, s.title);
       AppendString(&tip, "");
       dbus_message_iter_close_container(i, &tip);
     }},
    {"ItemIsMenu", "b",
     [](DBusMessageIter* i, const Setup&) {
       const dbus_bool_t no = FALSE;
       dbus_message_iter_append_basic(i, DBUS_TYPE_BOOLEAN, &no);
     }},
};

void AppendVariant(DBusMessageIter* iter, const Property& property, const Setup& setup) {
  DBusMessageIter variant;
  dbus_message_iter_open_container(iter, DBUS_TYPE_VARIANT, property.signature, &variant);
  property.append(&variant, setup);
  dbus_message_iter_close_container(iter, &variant);
}

const Property* FindProperty(const char* name) {
  for (const Property& property : kProperties) {
    if (std::string_view(property.name) == name) return &property;
  }
  return nullptr;
}

}  // namespace

// The item's side of the bus, on its own thread. Only the thread touches the
// connection; the destructor's thread only writes the stop event.
class StatusNotifierItem::Bus {
 public:
  Bus(Setup setup, std::string address)
      : setup_(std::move(setup)), address_(std::move(address)), stop_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
  }

  ~Bus() {
    if (stop_ >= 0) {
      const uint64_t one = 1;
      // Eight bytes to an eventfd fail only on an overflow that one write cannot reach.
      [[maybe_unused]] const ssize_t written = write(stop_, &one, sizeof one);
    }
    thread_.join();
    if (stop_ >= 0) close(stop_);
  }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

 private:
  void Run() {
    std::string reason;
    if (stop_ < 0) {
      Unavailable("no event descriptor to end the item with");
      return;
    }
    connection_ = Connect(reason);
    if (connection_ == nullptr) {
      Unavailable(reason);
      return;
    }
    Serve();
    dbus_bus_release_name(connection_, name_.c_str(), nullptr);
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
    connection_ = nullptr;
  }

  DBusConnection* Connect(std::string& reason) {
    if (address_.empty()) {
      reason = "no session bus";
      return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(address_.c_str(), &error);
    if (connection != nullptr && dbus_bus_register(connection, &error)) {
      dbus_connection_set_exit_on_disconnect(connection, FALSE);
      name_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++itemCount_);
      if (dbus_bus_request_name(connection, name_.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) ==
          DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        return connection;
      }
    }
    reason = std::string("no session bus (") + (dbus_error_is_set(&error) ? error.message : "name taken") + ")";
    dbus_error_free(&error);
    if (connection != nullptr) {
      dbus_connection_close(connection);
      dbus_connection_unref(connection);
    }
    return nullptr;
  }

  // Answers the host until the stop event or the end of the bus.
  void Serve() {
    static const DBusObjectPathVTable vtable = {nullptr, &Bus::OnItemMessage, nullptr, nullptr, nullptr, nullptr};
    dbus_connection_register_object_path(connection_, kObjectPath, &vtable, this);
    dbus_connection_add_filter(connection_, &Bus::OnSignal, this, nullptr);
    dbus_bus_add_match(connection_, kWatcherAppeared, nullptr);
    Register();
    int busFd = -1;
    dbus_connection_get_unix_fd(connection_, &busFd);
    while (dbus_connection_get_is_connected(connection_)) {
      while (dbus_connection_dispatch(connection_) == DBUS_DISPATCH_DATA_REMAINS) {
      }
      const short sending = dbus_connection_has_messages_to_send(connection_) ? POLLOUT : 0;
      pollfd fds[] = {{busFd, static_cast<short>(POLLIN | sending), 0}, {stop_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      dbus_connection_read_write(connection_, 0);
    }
  }

  // Offers the item to the watcher; its answer arrives in OnRegistered. A
  // watcher that leaves without answering is answered for by the bus.
  void Register() {
    DBusMessage* call =
        dbus_message_new_method_call(kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem");
    DBusMessageIter args;
    dbus_message_iter_init_append(call, &args);
    AppendString(&args, name_);
    DBusPendingCall* pending = nullptr;
    if (dbus_connection_send_with_reply(connection_, call, &pending, DBUS_TIMEOUT_INFINITE) && pending != nullptr) {
      dbus_pending_call_set_notify(pending, &Bus::OnRegistered, this, nullptr);
      dbus_pending_call_unref(pending);
    }
    dbus_message_unref(call);
  }

  static void OnRegistered(DBusPendingCall* pending, void* data) {
    DBusMessage* reply = dbus_pending_call_steal_reply(pending);
    if (reply == nullptr) return;
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
      static_cast<Bus*>(data)->Unavailable(std::string("no StatusNotifierWatcher (") +
                                           dbus_message_get_error_name(reply) + ")");
    }
    dbus_message_unref(reply);
  }

  static DBusHandlerResult OnSignal(DBusConnection*, DBusMessage* message, void* data) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (dbus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged") &&
        dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner, DBUS_TYPE_STRING,
                              &newOwner, DBUS_TYPE_INVALID) &&
        std::string_view(name) == kWatcherName && *newOwner != '\0') {
      static_cast<Bus*>(data)->Register();
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
  }

  static DBusHandlerResult OnItemMessage(DBusConnection* connection, DBusMessage* message, void* data) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    DBusMessage* reply = static_cast<Bus*>(data)->Answer(message);
    if (reply == nullptr) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;  // the library answers "unknown method"
    dbus_connection_send(connection, reply, nullptr);
    dbus_message_unref(reply);
    return DBUS_HANDLER_RESULT_HANDLED;
  }

  // The reply to a call on the item's object; null for an unknown call.
  DBusMessage* Answer(DBusMessage* call) {
    if (dbus_message_is_method_call(call, kItemInterface, "Activate")) {
      PostMessageTo(setup_.target, setup_.activate.id, setup_.activate.wParam, setup_.activate.lParam);
      return dbus_message_new_method_return(call);
    }
    for (const char* ignored : {"SecondaryActivate", "ContextMenu", "Scroll"}) {
      if (dbus_message_is_method_call(call, kItemInterface, ignored)) return dbus_message_new_method_return(call);
    }
    if (dbus_message_is_method_call(call, "org.freedesktop.DBus.Introspectable", "Introspect")) {
      DBusMessage* reply = dbus_message_new_method_return(call);
      dbus_message_append_args(reply, DBUS_TYPE_STRING, &kIntrospection, DBUS_TYPE_INVALID);
      return reply;
    }
    if (dbus_message_is_method_call(call, kPropertiesInterface, "Get")) return AnswerGet(call);
    if (dbus_message_is_method_call(call, kPropertiesInterface, "GetAll")) return AnswerGetAll(call);
    return nullptr;
  }

  DBusMessage* AnswerGet(DBusMessage* call) {
    const char* interface = nullptr;
    const char* name = nullptr;
    const Property* property = nullptr;
    if (dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                              DBUS_TYPE_INVALID) &&
        std::string_view(interface) == kItemInterface) {
      property = FindProperty(name);
    }
    if (property == nullptr) {
      return dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_PROPERTY, "no such property");
    }
    DBusMessage* reply = dbus_message_new_method_return(call);
    DBusMessageIter iter;
    dbus_message_iter_init_append(reply, &iter);
    AppendVariant(&iter, *property, setup_);
    return reply;
  }

  DBusMessage* AnswerGetAll(DBusMessage* call) {
    const char* interface = nullptr;
    if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_INVALID)) {
      return dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, "an interface name is expected");
    }
    DBusMessage* reply = dbus_message_new_method_return(call);
    DBusMessageIter iter;
    DBusMessageIter all;
    dbus_message_iter_init_append(reply, &iter);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "{sv}", &all);
    for (const Property& property : kProperties) {
      if (std::string_view(interface) != kItemInterface) break;
      DBusMessageIter entry;
      dbus_message_iter_open_container(&all, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
      AppendString(&entry, property.name);
      AppendVariant(&entry, property, setup_);
      dbus_message_iter_close_container(&all, &entry);
    }
    dbus_message_iter_close_container(&iter, &all);
    return reply;
  }

  void Unavailable(const std::string& reason) {
    if (reported_ || !setup_.unavailable) return;
    reported_ = true;
    setup_.unavailable(reason);
  }

  static inline std::atomic<int> itemCount_ = 0;  // numbers the items of this process

  const Setup setup_;
  const std::string address_;
  const int stop_;
  std::thread thread_;
  // The item thread's own.
  DBusConnection* connection_ = nullptr;
  std::string name_;
  bool reported_ = false;
};

StatusNotifierItem::StatusNotifierItem(Setup setup)
    : bus_(std::make_unique<Bus>(std::move(setup), SessionBusAddress())) {}

StatusNotifierItem::~StatusNotifierItem() = default;
