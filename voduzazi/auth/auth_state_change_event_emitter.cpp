#include "voduzazi/auth/auth_state_change_event_emitter.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

namespace voduzazi::auth {
namespace {

// The emitters whose emit this thread is inside, innermost last (one listener may emit again).
thread_local std::vector<const void*> emittingOnThisThread;

class EmittingScope {
 public:
  explicit EmittingScope(const void* emitter) : emitter_(emitter) {
    emittingOnThisThread.push_back(emitter);
  }
  ~EmittingScope() {
    auto& emitting = emittingOnThisThread;
    emitting.erase(std::next(std::find(emitting.rbegin(), emitting.rend(), emitter_)).base());
  }
  EmittingScope(const EmittingScope&) = delete;
  EmittingScope& operator=(const EmittingScope&) = delete;

 private:
  const void* emitter_;
};

// Called inside the handler of a listener's or an observer's exception.
void logFailure(const std::shared_ptr<VoduzaziLogger>& logger, const char* what,
                AuthChangeEvent event, LogSite site) {
  if (!logger) return;
  logger->error(what + std::string(toString(event)) + ": " +
                    voduzazi::detail::currentExceptionText(),
                {}, std::move(site));
}

}  // namespace

AuthStateChangeEventEmitter::AuthStateChangeEventEmitter(
    std::shared_ptr<VoduzaziLogger> logger, NotificationCenter* center,
    std::shared_ptr<VoduzaziLogger> failureLogger)
    : emitter_(std::make_shared<EventEmitter<Event>>(std::nullopt,
                                                     /*emitsLastEventWhenAttaching=*/false)),
      logger_(std::move(logger)),
      failureLogger_(failureLogger ? std::move(failureLogger) : logger_),
      center_(center ? center : &NotificationCenter::defaultCenter()),
      closed_(std::make_shared<std::atomic<bool>>(false)) {}

std::shared_ptr<ObservationToken> AuthStateChangeEventEmitter::attach(Listener listener) const {
  return emitter_->attach([listener = std::move(listener), logger = logger_,
                           failureLogger = failureLogger_, closed = closed_](const Event& value) {
    if (!value || closed->load()) return;
    try {
      listener(value->first, value->second);
    } catch (...) {
      // One failing listener must neither keep the event from the others nor fail the operation
      // that emitted it (a sign-in already stored, a refresh others wait for).
      logFailure(failureLogger, "Auth state change listener failed on ", value->first,
                 {"Auth/EventEmitter", "attach(_:)", __LINE__});
    }
    if (logger) {
      logger->verbose("Auth state changed: " + description(value->first, value->second), {},
                      {"Auth/EventEmitter", "attach(_:)", __LINE__});
    }
  });
}

void AuthStateChangeEventEmitter::emit(AuthChangeEvent event, const std::optional<Session>& session,
                                       const ObservationToken* token) const {
  emitTo(event, session, token, nullptr);
}

void AuthStateChangeEventEmitter::emit(AuthChangeEvent event, const std::optional<Session>& session,
                                       const std::function<bool()>& isCurrent) const {
  emitTo(event, session, nullptr, &isCurrent);
}

void AuthStateChangeEventEmitter::emitTo(AuthChangeEvent event,
                                         const std::optional<Session>& session,
                                         const ObservationToken* token,
                                         const std::function<bool()>* isCurrent) const {
  if (closed_->load()) return;
  const EmittingScope scope(emitter_.get());
  Notification notification{std::string(didChangeAuthStateNotification), nullptr, {}};
  notification.userInfo.emplace(authChangeEventInfoKey, event);
  notification.userInfo.emplace(authChangeSessionInfoKey, session);
  // An observer that throws is treated as a listener that throws: logged, and the others and
  // the operation that emitted carry on.
  center_->post(
      notification,
      [&] {
        logFailure(failureLogger_, "Auth state change observer failed on ", event,
                   {"Auth/EventEmitter", "emit(_:session:token:)", __LINE__});
      },
      isCurrent ? *isCurrent : std::function<bool()>());
  Event value(std::in_place, event, session);
  if (token) {
    emitter_->emit(value, *token);
  } else if (isCurrent) {
    emitter_->emit(value, *isCurrent);
  } else {
    emitter_->emit(value);
  }
}

void AuthStateChangeEventEmitter::close() const { closed_->store(true); }

bool AuthStateChangeEventEmitter::isEmittingOnThisThread() const {
  return std::find(emittingOnThisThread.begin(), emittingOnThisThread.end(), emitter_.get()) !=
         emittingOnThisThread.end();
}

}  // namespace voduzazi::auth
