#include "voduzazi/auth/auth_client.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "voduzazi/auth/auth_client_logger_decorator.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/background_work.hpp"
#include "voduzazi/clocks/system_clocks.hpp"
#include "voduzazi/concurrency/detail/wait_for_end.hpp"
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

// What the client runs beside its callers until it is closed: its watch on the application's
// activity and its own tasks. Its mutex orders a late notification or a new task against the
// close, so nothing starts for a client that is closed.
struct AuthClient::Background : std::enable_shared_from_this<Background> {
  explicit Background(std::int64_t clientID) : clientID(clientID) {}

  void handle(ApplicationActivity activity) {
    std::lock_guard lock(mutex);
    if (!open) return;
    const Dependencies dependencies = Dependencies::get(clientID);
    if (!dependencies.configuration.autoRefreshToken) return;
    if (activity == ApplicationActivity::active) {
      dependencies.sessionManager.startAutoRefresh();
    } else {
      dependencies.sessionManager.stopAutoRefresh();
    }
  }

  // Starts `body` as a task of the client's, unless it is closed.
  bool start(std::function<void()> body) {
    std::lock_guard lock(mutex);
    if (!open) return false;
    std::erase_if(tasks, [](const Task<void>& task) { return task.isFinished(); });
    ++running;
    tasks.emplace_back([self = shared_from_this(), body = std::move(body)] {
      // Counted down however the body ends.
      struct Ending {
        Background& background;
        ~Ending() { background.ended(); }
      } ending{*self};
      const detail::BackgroundWorkScope background(self->clientID);
      body();
    });
    return true;
  }

  // Nothing starts from now on; gives the tasks that may still run.
  std::vector<Task<void>> close() {
    std::lock_guard lock(mutex);
    open = false;
    return tasks;
  }

  // Waits until every task has ended or `giveUpAt` has come; false when one still runs.
  bool tasksEndBy(std::chrono::steady_clock::time_point giveUpAt) {
    std::unique_lock lock(mutex);
    return taskEnded.wait_until(lock, giveUpAt, [this] { return running == 0; });
  }

  const std::int64_t clientID;
  std::mutex mutex;
  std::condition_variable taskEnded;
  bool open = true;
  int running = 0;
  std::vector<Task<void>> tasks;
  std::shared_ptr<ObservationToken> token;

 private:
  void ended() {
    std::lock_guard lock(mutex);
    --running;
    taskEnded.notify_all();
  }
};

AuthClient::AuthClient(Configuration configuration, std::shared_ptr<ApplicationLifecycle> lifecycle)
    : clientID_(++globalClientID), background_(std::make_shared<Background>(clientID_)) {
  Dependencies::set(clientID_, makeDependencies(clientID_, std::move(configuration)));
  background_->token = lifecycle->observe(
      [weak = std::weak_ptr<Background>(background_)](ApplicationActivity activity) {
        if (auto alive = weak.lock()) alive->handle(activity);
      });
}

AuthClient::~AuthClient() { close(); }

void AuthClient::close() const {
  if (!background_) return;  // a borrowed handle
  const auto giveUpAt = std::chrono::steady_clock::now() + releaseWait;
  const std::vector<Task<void>> tasks = background_->close();
  background_->token->cancel();
  const Dependencies dependencies = Dependencies::get(clientID_);
  dependencies.eventEmitter.close();
  if (dependencies.sessionManager.close) dependencies.sessionManager.close(giveUpAt);
  if (detail::isBackgroundWorkOf(clientID_)) return;
  // A deep link's code exchange that the server holds is called off like a refresh.
  if (!background_->tasksEndBy(giveUpAt)) {
    for (const Task<void>& task : tasks) task.cancel();
  }
  for (const Task<void>& task : tasks) voduzazi::detail::waitForEnd(task);
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
  auto attach = [clientID = clientID_, continuation = continuation] {
    const Dependencies dependencies = Dependencies::get(clientID);
    auto token = dependencies.eventEmitter.attach(
        [continuation](AuthChangeEvent event, const std::optional<Session>& session) {
          continuation.yield(AuthStateChange{event, session});
        });
    emitInitialSessionFor(clientID, token);
    continuation.onTermination([token](Termination) { token->cancel(); });
  };
  // A closed client has no events to give.
  if (!startTask(std::move(attach))) continuation.finish();
  return std::move(stream);
}

bool AuthClient::startTask(std::function<void()> body) const {
  // A borrowed handle's task belongs to nobody, as its client may be gone.
  if (!background_) {
    Task<void>(std::move(body));
    return true;
  }
  return background_->start(std::move(body));
}

void AuthClient::startAutoRefresh() const {
  Dependencies::get(clientID_).sessionManager.startAutoRefresh();
}

void AuthClient::stopAutoRefresh() const {
  Dependencies::get(clientID_).sessionManager.stopAutoRefresh();
}

}  // namespace voduzazi::auth
