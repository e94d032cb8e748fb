#include "tapwick/user_notifications.hpp"

#include <iostream>

#include "tapwick/tapwick_error.hpp"

namespace tapwick {

UserNotificationCenter::UserNotificationCenter(std::shared_ptr<MainExecutor> executor,
                                               std::shared_ptr<NotificationPresenter> presenter)
    : executor_(std::move(executor)), shared_(std::make_shared<Shared>()) {
  shared_->executor = executor_;
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

void UserNotificationCenter::add(LocalNotificationRequest request, DeliveryHandler delivered) {
  const auto trigger = request.trigger;
  executor_->postAfter(
      trigger,
      [shared = shared_, queued = Queued{std::move(request), std::move(delivered)}]() mutable {
        {
          std::lock_guard lock(shared->queueMutex);
          shared->queue.push_back(std::move(queued));
          if (shared->draining) return;
          shared->draining = true;
        }
        voduzazi::Task<void>::detached([shared] { presentQueued(shared); });
      });
}

void UserNotificationCenter::presentQueued(const std::shared_ptr<Shared>& shared) {
  for (;;) {
    Queued queued;
    {
      std::lock_guard lock(shared->queueMutex);
      if (shared->queue.empty()) {
        shared->draining = false;
        return;
      }
      queued = std::move(shared->queue.front());
      shared->queue.pop_front();
    }
    bool handedOver = false;
    try {
      std::lock_guard lock(shared->presenting);
      shared->presenter->present(queued.request);
      handedOver = true;
    } catch (const NotificationTimedOut& timedOut) {
      // Showing it again would show it twice once the service catches up.
      std::cout << "Notification timed out, counted as shown: " << timedOut.what() << std::endl;
      handedOver = true;
    } catch (...) {
      std::cout << "Notification error: " << errorDescription(std::current_exception())
                << std::endl;
    }
    if (auto executor = shared->executor.lock(); executor && queued.delivered) {
      executor->post(
          [delivered = std::move(queued.delivered), handedOver] { delivered(handedOver); });
    }
  }
}

}  // namespace tapwick
