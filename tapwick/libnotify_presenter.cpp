// glib and libnotify live in this file only: their headers clash with Qt's.
#include "tapwick/libnotify_presenter.hpp"

#include <gio/gio.h>
#include <libnotify/notify.h>

#include <memory>
#include <stdexcept>

namespace tapwick {

namespace {

struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GCharDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
struct ObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};

// The call's own time-out: the service may still show the message. Every answer from the bus
// is a verdict, "no reply" included (the service left without replying, so it showed nothing).
bool isTimeOut(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
}

}  // namespace

LibnotifyPresenter::LibnotifyPresenter(std::string applicationName)
    : applicationName_(std::move(applicationName)) {}

LibnotifyPresenter::~LibnotifyPresenter() {
  if (initialised_) notify_uninit();
}

void LibnotifyPresenter::ensureInitialised() {
  if (initialised_) return;
  if (!notify_init(applicationName_.c_str())) {
    throw std::runtime_error("The notification library could not start.");
  }
  initialised_ = true;
}

bool LibnotifyPresenter::requestAuthorization() {
  ensureInitialised();
  gchar* name = nullptr;
  gchar* vendor = nullptr;
  gchar* version = nullptr;
  gchar* specVersion = nullptr;
  const bool answered = notify_get_server_info(&name, &vendor, &version, &specVersion);
  g_free(name);
  g_free(vendor);
  g_free(version);
  g_free(specVersion);
  if (!answered) throw std::runtime_error("No notification service answered.");
  return true;
}

std::string LibnotifyPresenter::escapeMarkup(const std::string& text) {
  std::unique_ptr<gchar, GCharDeleter> escaped(
      g_markup_escape_text(text.data(), static_cast<gssize>(text.size())));
  return escaped ? std::string(escaped.get()) : std::string();
}

void LibnotifyPresenter::present(const LocalNotificationRequest& request) {
  ensureInitialised();
  const std::string body = escapeMarkup(request.body);
  std::unique_ptr<NotifyNotification, ObjectDeleter> notification(
      notify_notification_new(request.title.c_str(), body.c_str(), nullptr));
  notify_notification_set_hint_string(notification.get(), "sound-name", "message-new-instant");
  notify_notification_set_hint_string(notification.get(), "desktop-entry", "tapwick");
  GError* raw = nullptr;
  if (!notify_notification_show(notification.get(), &raw)) {
    std::unique_ptr<GError, GErrorDeleter> error(raw);
    if (error && isTimeOut(error.get())) throw NotificationTimedOut(error->message);
    throw std::runtime_error(error ? error->message : "The notification was not shown.");
  }
}

}  // namespace tapwick
