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
  executor_->postAfter(trigger, [executor = executor_, shared = shared_,
                                 request = std::move(request)]() mutable {
    runInBackground(
        executor,
        [shared, request = std::move(request)] {
          std::lock_guard lock(shared->presenting);
          shared->presenter->present(request);
        },
        [](voduzazi::Result<std::monostate> shown) {
          if (!shown.isSuccess()) {
            std::cout << "Notification error: " << errorDescription(shown.error()) << std::endl;
          }
        });
  });
}

}  // namespace tapwick
