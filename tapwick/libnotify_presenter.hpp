// LibnotifyPresenter: shows notifications through the desktop's notification service (the
// freedesktop service over D-Bus). Bodies are escaped, so markup in a message shows as typed.
//
//   auto presenter = std::make_shared<LibnotifyPresenter>("Tapwick");
//   presenter->requestAuthorization();          // throws when no service answers
//
// Shared objects: unsafe; UserNotificationCenter calls it one call at a time.
#pragma once

#include <string>

#include "tapwick/user_notifications.hpp"

namespace tapwick {

class LibnotifyPresenter : public NotificationPresenter {
 public:
  explicit LibnotifyPresenter(std::string applicationName);
  ~LibnotifyPresenter() override;

  bool requestAuthorization() override;
  void present(const LocalNotificationRequest& request) override;

  // `text` with &, <, >, ' and " written as entities, so that a markup-reading service shows it
  // literally.
  static std::string escapeMarkup(const std::string& text);

 private:
  void ensureInitialised();

  std::string applicationName_;
  bool initialised_ = false;
};

}  // namespace tapwick
