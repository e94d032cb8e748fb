#include "voduzazi/auth/auth_state_change_event_emitter.hpp"

namespace voduzazi::auth {

AuthStateChangeEventEmitter::AuthStateChangeEventEmitter(
    std::shared_ptr<VoduzaziLogger> logger, NotificationCenter* center,
    std::shared_ptr<VoduzaziLogger> failureLogger)
    : emitter_(std::make_shared<EventEmitter<Event>>(std::nullopt,
                                                     /*emitsLastEventWhenAttaching=*/false)),
      logger_(std::move(logger)),
      failureLogger_(failureLogger ? std::move(failureLogger) : logger_),
      center_(center ? center : &NotificationCenter::defaultCenter()) {}

std::shared_ptr<ObservationToken> AuthStateChangeEventEmitter::attach(Listener listener) const {
  return emitter_->attach([listener = std::move(listener), logger = logger_,
                           failureLogger = failureLogger_](const Event& value) {
    if (!value) return;
    try {
      listener(value->first, value->second);
    } catch (...) {
      // One failing listener must neither keep the event from the others nor fail the operation
      // that emitted it (a sign-in already stored, a refresh others wait for).
      if (failureLogger) {
        failureLogger->error("Auth state change listener failed on " +
                                 std::string(toString(value->first)) + ": " +
                                 voduzazi::detail::currentExceptionText(),
                             {}, {"Auth/EventEmitter", "attach(_:)", __LINE__});
      }
    }
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
