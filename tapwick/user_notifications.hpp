// UserNotificationCenter: schedules local notifications ("Tapwick", the message and its time) and
// asks the desktop's notification service whether it will show them. The presenter does the
// talking to the service; it is called in a task, never on the main thread.
//
//   UserNotificationCenter center(executor, std::make_shared<LibnotifyPresenter>());
//   center.add({.identifier = id, .title = "Tapwick", .body = text, .trigger = 1s},
//              [](bool handedOver) { if (handedOver) markSeen(); });
//
// Shared objects: safe. Presenters are called one at a time.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "tapwick/main_executor.hpp"

namespace tapwick {

struct LocalNotificationRequest {
  std::string identifier;
  std::string title;
  // Plain text: presenters show it literally.
  std::string body;
  // How long after add() the notification is shown.
  std::chrono::milliseconds trigger{1000};
};

// What a presenter throws when the notification service did not answer in time. That is no
// refusal: the service may still show the notification, so it counts as handed over.
class NotificationTimedOut : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class NotificationPresenter {
 public:
  virtual ~NotificationPresenter() = default;
  // Whether notifications can be shown; throws with the reason when no service answers.
  virtual bool requestAuthorization() = 0;
  // Shows the notification now. Throws NotificationTimedOut when the service does not answer in
  // time, anything else when it refuses the notification.
  virtual void present(const LocalNotificationRequest& request) = 0;
};

class UserNotificationCenter {
 public:
  using AuthorizationHandler = std::function<void(bool granted, std::optional<std::string> error)>;
  // Told, on the main thread, whether the notification service took the notification.
  using DeliveryHandler = std::function<void(bool handedOver)>;

  UserNotificationCenter(std::shared_ptr<MainExecutor> executor,
                         std::shared_ptr<NotificationPresenter> presenter);

  // Asks the presenter in a task; `done` runs on the main thread.
  void requestAuthorization(AuthorizationHandler done);
  // Shows the notification once its trigger has passed. A failure is logged, and `delivered`
  // (when given) runs on the main thread once the presenter has returned or failed: with true
  // when it returned or timed out, false when it refused. Nothing is called for a notification
  // still waiting when the process ends.
  void add(LocalNotificationRequest request, DeliveryHandler delivered = {});

 private:
  // Requests are shown in the order their triggers pass, by one task at a time.
  struct Queued {
    LocalNotificationRequest request;
    DeliveryHandler delivered;
  };
  struct Shared {
    // Weak: the executor's pending timers hold this state.
    std::weak_ptr<MainExecutor> executor;
    std::mutex presenting;
    std::shared_ptr<NotificationPresenter> presenter;
    std::mutex queueMutex;
    std::deque<Queued> queue;
    bool draining = false;
  };
  static void presentQueued(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<MainExecutor> executor_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace tapwick
