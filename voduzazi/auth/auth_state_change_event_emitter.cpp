#include "voduzazi/auth/auth_state_change_event_emitter.hpp"

namespace voduzazi::auth {

AuthStateChangeEventEmitter::AuthStateChangeEventEmitter(std::shared_ptr<VoduzaziLogger> logger,
                                                         NotificationCenter* center)
    : emitter_(std::make_shared<EventEmitter<Event>>(std::nullopt,
                                                     /*emitsLastEventWhenAttaching=*/false)),
      logger_(std::move(logger)),
      center_(center ? center : &NotificationCenter::defaultCenter()) {}

std::shared_ptr<ObservationToken> AuthStateChangeEventEmitter::attach(Listener listener) const {
  return emitter_->attach([listener = std::move(listener), logger = logger_](const Event& value) {
    if (!value) return;
    listener(value->first, value->second);
    if (logger) {
      logger->verbose("Auth state changed: " + description(value->first, value->second), {},
                      {"Auth/EventEmitter", "attach(_:)", __LINE__});
    }
  });
}

void AuthStateChangeEventEmitter::emit(AuthChangeEvent event, const std::optional<Session>& session,
                                       const ObservationToken* token) const {
  Notification notification{std::string(didChangeAuthStateNotification), nullptr, {}};
  notification.userInfo.emplace(authChangeEventInfoKey, event);
  notification.userInfo.emplace(authChangeSessionInfoKey, session);
  center_->post(notification);
  Event value(std::in_place, event, session);
  if (token) {
    emitter_->emit(value, *token);
  } else {
    emitter_->emit(value);
  }
}

}  // namespace voduzazi::auth
