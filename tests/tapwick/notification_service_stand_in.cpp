// glib and GDBus live in this file only.
#include "tests/tapwick/notification_service_stand_in.hpp"

#include <gio/gio.h>

#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tapwick::testing {

namespace {

constexpr const char* kInterface = R"(
<node>
  <interface name='org.freedesktop.Notifications'>
    <method name='GetCapabilities'><arg type='as' direction='out'/></method>
    <method name='Notify'>
      <arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>
      <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>
      <arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>
      <arg type='u' direction='out'/>
    </method>
    <method name='CloseNotification'><arg type='u' direction='in'/></method>
    <method name='GetServerInformation'>
      <arg type='s' direction='out'/><arg type='s' direction='out'/>
      <arg type='s' direction='out'/><arg type='s' direction='out'/>
    </method>
  </interface>
</node>)";

void failOn(GError* error, const char* what) {
  if (error == nullptr) return;
  const std::string message = std::string(what) + ": " + error->message;
  g_error_free(error);
  throw std::runtime_error(message);
}

}  // namespace

struct NotificationServiceStandIn::Impl {
  GTestDBus* bus = nullptr;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GDBusConnection* connection = nullptr;
  GDBusNodeInfo* node = nullptr;
  guint registration = 0;
  std::thread thread;

  mutable std::mutex mutex;
  Answer answer = Answer::atOnce;
  bool holdNext = false;
  GDBusMethodInvocation* held = nullptr;
  std::vector<std::string> bodies;
  guint32 lastId = 0;

  void start();
  void serve(std::promise<void>& ready);
  void call(const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation);
  void notify(GVariant* parameters, GDBusMethodInvocation* invocation);
  void reply(GDBusMethodInvocation* invocation) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++lastId));
  }
};

void NotificationServiceStandIn::Impl::start() {
  bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);  // sets DBUS_SESSION_BUS_ADDRESS for this process
  GError* error = nullptr;
  node = g_dbus_node_info_new_for_xml(kInterface, &error);
  failOn(error, "interface");
  context = g_main_context_new();
  loop = g_main_loop_new(context, FALSE);
  std::promise<void> ready;
  auto started = ready.get_future();
  thread = std::thread([this, &ready] { serve(ready); });
  started.get();
}

void NotificationServiceStandIn::Impl::serve(std::promise<void>& ready) {
  g_main_context_push_thread_default(context);
  try {
    GError* error = nullptr;
    connection = g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    failOn(error, "connecting to the test bus");
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
          static_cast<Impl*>(self)->call(method, parameters, invocation);
        },
        nullptr, nullptr, {}};
    registration = g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications",
                                                     node->interfaces[0], &vtable, this, nullptr,
                                                     &error);
    failOn(error, "registering the service");
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    failOn(error, "taking the service's name");
    g_variant_unref(reply);
  } catch (...) {
    g_main_context_pop_thread_default(context);
    ready.set_exception(std::current_exception());
    return;
  }
  ready.set_value();
  g_main_loop_run(loop);
  g_main_context_pop_thread_default(context);
}

void NotificationServiceStandIn::Impl::call(const gchar* method, GVariant* parameters,
                                            GDBusMethodInvocation* invocation) {
  const std::string name = method;
  if (name == "Notify") return notify(parameters, invocation);
  if (name == "GetServerInformation") {
    return g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(ssss)", "stand-in", "tests", "1.0", "1.2"));
  }
  if (name == "GetCapabilities") {
    const gchar* capabilities[] = {"body", nullptr};
    return g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(^as)", capabilities));
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void NotificationServiceStandIn::Impl::notify(GVariant* parameters,
                                              GDBusMethodInvocation* invocation) {
  const gchar* body = nullptr;
  g_variant_get_child(parameters, 4, "&s", &body);
  std::lock_guard lock(mutex);
  bodies.emplace_back(body != nullptr ? body : "");
  if (answer == Answer::refuse) {
    return g_dbus_method_invocation_return_dbus_error(
        invocation, "org.freedesktop.DBus.Error.Failed", "refused by the stand-in");
  }
  if (answer == Answer::leaveUnanswered) {
    return g_dbus_method_invocation_return_dbus_error(
        invocation, "org.freedesktop.DBus.Error.NoReply",
        "Message recipient disconnected from message bus without replying");
  }
  if (holdNext && held == nullptr) {
    holdNext = false;
    held = invocation;  // answered by answerHeld() or stop()
    return;
  }
  reply(invocation);
}

NotificationServiceStandIn::NotificationServiceStandIn() : impl_(std::make_unique<Impl>()) {
  impl_->start();
}

namespace {
// Made on first use and kept for the process: the bus client library keeps its connection.
NotificationServiceStandIn* sharedService = nullptr;
std::mutex sharedMutex;
}  // namespace

NotificationServiceStandIn& NotificationServiceStandIn::shared() {
  std::lock_guard lock(sharedMutex);
  if (sharedService == nullptr) sharedService = new NotificationServiceStandIn();
  return *sharedService;
}

void NotificationServiceStandIn::stopShared() {
  std::lock_guard lock(sharedMutex);
  if (sharedService != nullptr) sharedService->stop();
}

void NotificationServiceStandIn::setAnswer(Answer answer) {
  std::lock_guard lock(impl_->mutex);
  impl_->answer = answer;
  impl_->holdNext = answer == Answer::holdFirst;
}

void NotificationServiceStandIn::answerHeld() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->held == nullptr) return;
  impl_->reply(std::exchange(impl_->held, nullptr));
}

std::size_t NotificationServiceStandIn::notifyCalls() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->bodies.size();
}

std::vector<std::string> NotificationServiceStandIn::bodies() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->bodies;
}

void NotificationServiceStandIn::stop() {
  if (!impl_->thread.joinable()) return;
  answerHeld();
  g_main_loop_quit(impl_->loop);
  impl_->thread.join();
  g_dbus_connection_unregister_object(impl_->connection, impl_->registration);
  g_dbus_connection_close_sync(impl_->connection, nullptr, nullptr);
  g_object_unref(impl_->connection);
  g_main_loop_unref(impl_->loop);
  g_main_context_unref(impl_->context);
  g_dbus_node_info_unref(impl_->node);
  // Unlike g_test_dbus_down(), this does not wait for the process's own bus connection (the
  // notification library keeps it) to go.
  g_test_dbus_stop(impl_->bus);
  g_object_unref(impl_->bus);
}

}  // namespace tapwick::testing
