#include "voduzazi/auth/auth_client.hpp"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

#include "voduzazi/auth/auth_client_logger_decorator.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/clocks/system_clocks.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::auth {

namespace {

std::atomic<std::int64_t> globalClientID{0};

Dependencies makeDependencies(std::int64_t clientID, AuthClientConfiguration configuration) {
  std::shared_ptr<VoduzaziLogger> logger;
  if (configuration.logger) {
    logger = std::make_shared<AuthClientLoggerDecorator>(clientID, configuration.logger);
  }
  auto http = makeAuthHTTPClient(configuration);
  return Dependencies{
      std::move(configuration),
      std::move(http),
      APIClient{clientID, APIClient::defaultSessionCleanupErrorCodes()},
      CodeVerifierStorage::live(storageConfigurationOf(clientID)),
      SessionStorage::live(storageConfigurationOf(clientID)),
      SessionManager::live(clientID),
      AuthStateChangeEventEmitter(nullptr, nullptr, logger),
      [] { return std::chrono::system_clock::now(); },
      std::make_shared<AnyClock>(ContinuousClock()),
      URLOpener::live(),
      PKCE::live(),
      std::move(logger),
  };
}

// Hands INITIAL_SESSION with the current session (none when it cannot be had) to one listener.
void emitInitialSessionFor(std::int64_t clientID, const std::shared_ptr<ObservationToken>& token) {
  const Dependencies dependencies = Dependencies::get(clientID);
  std::optional<Session> session;
  try {
    session = dependencies.sessionManager.session();
  } catch (...) {
    // A listener learns of a missing or unrefreshable session from the event itself.
  }
  dependencies.eventEmitter.emit(AuthChangeEvent::initialSession, session, token.get());
}

}  // namespace

// Follows the application's activity until the client goes away. Its mutex orders a late
// notification against the client's destruction, so no loop starts for a client that is gone.
struct AuthClient::Lifecycle {
  explicit Lifecycle(std::int64_t clientID) : clientID(clientID) {}

  void handle(ApplicationActivity activity) {
    std::lock_guard lock(mutex);
    if (!alive) return;
    const Dependencies dependencies = Dependencies::get(clientID);
    if (!dependencies.configuration.autoRefreshToken) return;
    if (activity == ApplicationActivity::active) {
      dependencies.sessionManager.startAutoRefresh();
    } else {
      dependencies.sessionManager.stopAutoRefresh();
    }
  }

  void end() {
    std::lock_guard lock(mutex);
    alive = false;
  }

  const std::int64_t clientID;
  std::mutex mutex;
  bool alive = true;
  std::shared_ptr<ObservationToken> token;
};

AuthClient::AuthClient(Configuration configuration, std::shared_ptr<ApplicationLifecycle> lifecycle)
    : clientID_(++globalClientID), lifecycle_(std::make_shared<Lifecycle>(clientID_)) {
  Dependencies::set(clientID_, makeDependencies(clientID_, std::move(configuration)));
  lifecycle_->token = lifecycle->observe(
      [weak = std::weak_ptr<Lifecycle>(lifecycle_)](ApplicationActivity activity) {
        if (auto alive = weak.lock()) alive->handle(activity);
      });
}

AuthClient::~AuthClient() {
  if (!lifecycle_) return;  // a borrowed handle
  lifecycle_->end();
  if (lifecycle_->token) lifecycle_->token->cancel();
  Dependencies::get(clientID_).sessionManager.stopAutoRefresh();
}

Session AuthClient::session() const {
  return Dependencies::get(clientID_).sessionManager.session();
}

std::optional<Session> AuthClient::currentSession() const {
  return Dependencies::get(clientID_).sessionStorage.get();
}

std::optional<User> AuthClient::currentUser() const {
  const auto session = currentSession();
  if (!session) return std::nullopt;
  return session->user;
}

std::shared_ptr<ObservationToken> AuthClient::onAuthStateChange(Listener listener) const {
  auto token = Dependencies::get(clientID_).eventEmitter.attach(std::move(listener));
  emitInitialSessionFor(clientID_, token);
  return token;
}

AsyncStream<AuthStateChange> AuthClient::authStateChanges() const {
  auto [stream, continuation] = AsyncStream<AuthStateChange>::makeStream();
  // The stream is handed back at once; its first element arrives when the task has run.
  Task<void>([clientID = clientID_, continuation = continuation] {
    const Dependencies dependencies = Dependencies::get(clientID);
    auto token = dependencies.eventEmitter.attach(
        [continuation](AuthChangeEvent event, const std::optional<Session>& session) {
          continuation.yield(AuthStateChange{event, session});
        });
    emitInitialSessionFor(clientID, token);
    continuation.onTermination([token](Termination) { token->cancel(); });
  });
  return std::move(stream);
}

void AuthClient::startAutoRefresh() const {
  Dependencies::get(clientID_).sessionManager.startAutoRefresh();
}

void AuthClient::stopAutoRefresh() const {
  Dependencies::get(clientID_).sessionManager.stopAutoRefresh();
}

}  // namespace voduzazi::auth
