#include "tapwick/user_notifications.hpp"

#include <iostream>

#include "tapwick/tapwick_error.hpp"

namespace tapwick {

UserNotificationCenter::UserNotificationCenter(std::shared_ptr<MainExecutor> executor,
                                               std::shared_ptr<NotificationPresenter> presenter)
    : executor_(std::move(executor)), shared_(std::make_shared<Shared>()) {
  shared_->presenter = std::move(presenter);
}

void UserNotificationCenter::requestAuthorization(AuthorizationHandler done) {
  runInBackground(
      executor_,
      [shared = shared_] {
        std::lock_guard lock(shared->presenting);
        return shared->presenter->requestAuthorization();
      },
      [done = std::move(done)](voduzazi::Result<bool> granted) {
        if (granted.isSuccess()) {
          done(granted.get(), std::nullopt);
        } else {
          done(false, errorDescription(granted.error()));
        }
      });
}

void UserNotificationCenter::add(LocalNotificationRequest request) {
  const auto trigger = request.trigger;
  executor_->postAfter(trigger, [shared = shared_, request = std::move(request)]() mutable {
    {
      std::lock_guard lock(shared->queueMutex);
      shared->queue.push_back(std::move(request));
      if (shared->draining) return;
      shared->draining = true;
    }
    voduzazi::Task<void>::detached([shared] { presentQueued(shared); });
  });
}

void UserNotificationCenter::presentQueued(const std::shared_ptr<Shared>& shared) {
  for (;;) {
    LocalNotificationRequest request;
    {
      std::lock_guard lock(shared->queueMutex);
      if (shared->queue.empty()) {
        shared->draining = false;
        return;
      }
      request = std::move(shared->queue.front());
      shared->queue.pop_front();
    }
    try {
      std::lock_guard lock(shared->presenting);
      shared->presenter->present(request);
    } catch (...) {
      std::cout << "Notification error: " << errorDescription(std::current_exception())
                << std::endl;
    }
  }
}

}  // namespace tapwick
