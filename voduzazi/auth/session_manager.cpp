#include "voduzazi/auth/session_manager.hpp"

// The plain digest functions keep no per-thread library state, which the EVP interface would
// leave behind on every thread that ever fingerprinted a token.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cctype>
#include <chrono>
#include <cmath>
#include <sstream>
#include <utility>

#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi::auth {

namespace {

// The manager whose refresh the current thread is running: a listener called from inside that
// refresh must not wait for it.
thread_local const LiveSessionManager* refreshingManager = nullptr;

class RefreshingScope {
 public:
  explicit RefreshingScope(const LiveSessionManager* manager)
      : previous_(std::exchange(refreshingManager, manager)) {}
  ~RefreshingScope() { refreshingManager = previous_; }
  RefreshingScope(const RefreshingScope&) = delete;
  RefreshingScope& operator=(const RefreshingScope&) = delete;

 private:
  const LiveSessionManager* previous_;
};

double secondsSince1970(Date date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

std::string upperCaseUUID() {
  thread_local boost::uuids::random_generator generate;
  std::string text = boost::uuids::to_string(generate());
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

LogSite site(const char* function, std::source_location at = std::source_location::current()) {
  LogSite where = LogSite::current(at);
  where.function = function;
  return where;
}

void debug(const Dependencies& dependencies, std::string message, const char* function) {
  if (dependencies.logger) dependencies.logger->debug(std::move(message), {}, site(function));
}

}  // namespace

namespace detail {

std::string refreshTokenFingerprint(const std::string& refreshToken) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, refreshToken.data(), refreshToken.size());
  SHA256_Final(digest, &context);
  static constexpr char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < 6; ++i) {
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace detail

SessionManager SessionManager::live(std::int64_t clientID) {
  auto manager = std::make_shared<LiveSessionManager>(clientID);
  return SessionManager{
      [manager] { return manager->session(); },
      [manager](const std::string& token) { return manager->refreshSession(token); },
      [manager](const Session& session) { return manager->update(session); },
      [manager] { manager->remove(); },
      [manager] { manager->startAutoRefreshToken(); },
      [manager] { manager->stopAutoRefreshToken(); },
  };
}

LiveSessionManager::LiveSessionManager(std::int64_t clientID) : clientID_(clientID) {}

Session LiveSessionManager::session() {
  const Dependencies dependencies = Dependencies::get(clientID_);
  return trace(
      dependencies.logger,
      [&] {
        const std::optional<Session> stored = dependencies.sessionStorage.get();
        if (!stored) {
          debug(dependencies, "session missing", "session()");
          throw AuthError::sessionMissing();
        }
        const double now = secondsSince1970(dependencies.date());
        if (stored->expiresAt - now >= expiryMarginSeconds) return *stored;
        debug(dependencies, "session expired", "session()");
        return refreshSession(stored->refreshToken);
      },
      site("session()"));
}

Session LiveSessionManager::refreshSession(const std::string& refreshToken) {
  // The token itself stays out of the log: a fingerprint tells refreshes apart well enough.
  const JSONObject context{{"refresh_id", upperCaseUUID()},
                           {"refresh_token", detail::refreshTokenFingerprint(refreshToken)}};
  return VoduzaziLoggerTaskLocal::withValue(context, [&] {
    const Dependencies dependencies = Dependencies::get(clientID_);
    return trace(
        dependencies.logger, [&] { return joinOrStartRefresh(refreshToken).value(); },
        site("refreshSession(_:)"));
  });
}

Task<Session> LiveSessionManager::joinOrStartRefresh(const std::string& refreshToken) {
  std::unique_lock lock(mutex_);
  if (refreshingManager == this) {
    // Called back from a listener of our own refresh: waiting for it would never end.
    const std::uint64_t id = nextRefreshID_++;
    lock.unlock();
    return startRefreshTask(refreshToken, id);
  }
  if (inFlightRefreshTask_) {
    Task<Session> task = inFlightRefreshTask_->task;
    lock.unlock();
    debug(Dependencies::get(clientID_), "Refresh already in flight", "refreshSession(_:)");
    return task;
  }
  // Started and recorded under the lock, so a second caller can only join it; the task clears
  // the record under the same lock, hence never before it was made.
  const std::uint64_t id = nextRefreshID_++;
  inFlightRefreshTask_.emplace(InFlightRefresh{id, startRefreshTask(refreshToken, id)});
  return inFlightRefreshTask_->task;
}

Task<Session> LiveSessionManager::startRefreshTask(const std::string& refreshToken,
                                                   std::uint64_t id) {
  return Task<Session>([self = shared_from_this(), refreshToken, id] {
    struct Ending {
      LiveSessionManager& manager;
      std::uint64_t id;
      ~Ending() { manager.refreshEnded(id); }
    } ending{*self, id};
    RefreshingScope scope(self.get());
    return self->performRefresh(refreshToken);
  });
}

Session LiveSessionManager::performRefresh(const std::string& refreshToken) {
  const Dependencies dependencies = Dependencies::get(clientID_);
  debug(dependencies, "Refresh task started", "refreshSession(_:)");
  const std::uint64_t generation = storedGeneration();
  const auto& configuration = dependencies.configuration;
  UserCredentials credentials;
  credentials.refreshToken = refreshToken;
  boost::urls::url url = configuration.url;
  url.segments().push_back("token");
  helpers::HTTPRequest request(std::move(url), HTTPMethod::post,
                               {{"grant_type", "refresh_token"}}, {},
                               configuration.encoder->encode(credentials));
  std::optional<helpers::HTTPResponse> response;
  try {
    response = dependencies.api.execute(std::move(request), APIClient::SessionCleanup::none);
  } catch (const AuthError& error) {
    // The server no longer knows the session: end it here too, unless this device has signed
    // out or in meanwhile, so the failure is about a session it no longer holds.
    if (error == AuthError::sessionMissing() && removeIfUnchangedSince(generation)) {
      dependencies.eventEmitter.emit(AuthChangeEvent::signedOut, std::nullopt);
    }
    throw;
  }
  Session session = response->decoded<Session>(*configuration.decoder);
  if (!storeIfUnchangedSince(generation, session)) {
    // A sign-out (or another sign-in) came first: storing this answer would bring back a session
    // the device has let go of.
    debug(dependencies, "Session changed during the refresh; the new one is not kept",
          "refreshSession(_:)");
    return session;
  }
  dependencies.eventEmitter.emit(AuthChangeEvent::tokenRefreshed, session);
  return session;
}

std::uint64_t LiveSessionManager::storedGeneration() const {
  std::lock_guard lock(storageMutex_);
  return storedGeneration_;
}

bool LiveSessionManager::storeIfUnchangedSince(std::uint64_t generation, const Session& session) {
  std::lock_guard lock(storageMutex_);
  if (storedGeneration_ != generation) return false;
  ++storedGeneration_;
  Dependencies::get(clientID_).sessionStorage.store(session);
  return true;
}

bool LiveSessionManager::removeIfUnchangedSince(std::uint64_t generation) {
  std::lock_guard lock(storageMutex_);
  if (storedGeneration_ != generation) return false;
  ++storedGeneration_;
  Dependencies::get(clientID_).sessionStorage.remove();
  return true;
}

void LiveSessionManager::refreshEnded(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    if (inFlightRefreshTask_ && inFlightRefreshTask_->id == id) inFlightRefreshTask_.reset();
  }
  debug(Dependencies::get(clientID_), "Refresh task ended", "refreshSession(_:)");
}

bool LiveSessionManager::update(const Session& session) {
  std::lock_guard lock(storageMutex_);
  ++storedGeneration_;
  return Dependencies::get(clientID_).sessionStorage.store(session);
}

void LiveSessionManager::remove() {
  std::lock_guard lock(storageMutex_);
  ++storedGeneration_;
  Dependencies::get(clientID_).sessionStorage.remove();
}

void LiveSessionManager::startAutoRefreshToken() {
  debug(Dependencies::get(clientID_), "start auto refresh token", "startAutoRefreshToken()");
  std::lock_guard lock(mutex_);
  if (startAutoRefreshTokenTask_) startAutoRefreshTokenTask_->cancel();
  startAutoRefreshTokenTask_.emplace([self = shared_from_this()] { self->runAutoRefreshLoop(); });
}

void LiveSessionManager::stopAutoRefreshToken() {
  debug(Dependencies::get(clientID_), "stop auto refresh token", "stopAutoRefreshToken()");
  std::lock_guard lock(mutex_);
  if (startAutoRefreshTokenTask_) startAutoRefreshTokenTask_->cancel();
  startAutoRefreshTokenTask_.reset();
}

bool LiveSessionManager::isAutoRefreshRunning() const {
  std::lock_guard lock(mutex_);
  return startAutoRefreshTokenTask_.has_value();
}

void LiveSessionManager::runAutoRefreshLoop() {
  while (!this_task::isCancelled() && !Dependencies::teardownHasBegun()) {
    autoRefreshTokenTick();
    const auto clock = Dependencies::get(clientID_).clock;
    try {
      clock->sleep(clock->now().advanced(std::chrono::seconds(30)));
    } catch (const CancellationError&) {
      // The next check ends the loop.
    }
  }
}

void LiveSessionManager::autoRefreshTokenTick() {
  const Dependencies dependencies = Dependencies::get(clientID_);
  trace(
      dependencies.logger,
      [&] {
        const double now = secondsSince1970(dependencies.date());
        const std::optional<Session> stored = dependencies.sessionStorage.get();
        if (!stored) return;
        const double ticks = std::trunc((stored->expiresAt - now) / autoRefreshTickSeconds);
        std::ostringstream message;
        message << "access token expires in " << static_cast<long long>(ticks)
                << " ticks, a tick lasts " << std::fixed;
        message.precision(1);
        message << autoRefreshTickSeconds << "s, refresh threshold is "
                << autoRefreshTickThreshold << " ticks";
        debug(dependencies, message.str(), "autoRefreshTokenTick()");
        if (ticks > autoRefreshTickThreshold) return;
        try {
          refreshSession(stored->refreshToken);
        } catch (...) {
          // The next tick tries again.
        }
      },
      site("autoRefreshTokenTick()"));
}

}  // namespace voduzazi::auth
