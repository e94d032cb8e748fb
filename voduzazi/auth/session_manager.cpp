#include "voduzazi/auth/session_manager.hpp"

// The plain digest functions keep no per-thread library state, which the EVP interface would
// leave behind on every thread that ever fingerprinted a token.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cctype>
#include <chrono>
#include <cmath>
#include <sstream>
#include <utility>

#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/auth/detail/background_work.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/wait_for_end.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi::auth {

namespace {

// Two reads of the store hold one session when its tokens are the same.
bool sameTokens(const Session& a, const Session& b) {
  return a.accessToken == b.accessToken && a.refreshToken == b.refreshToken;
}

// The manager and refresh that the current thread is running: a listener called from inside that
// refresh must not wait for it.
struct RunningRefresh {
  const LiveSessionManager* manager = nullptr;
  std::uint64_t id = 0;
};
thread_local RunningRefresh runningRefresh;

class RefreshingScope {
 public:
  RefreshingScope(const LiveSessionManager* manager, std::uint64_t id)
      : previous_(std::exchange(runningRefresh, RunningRefresh{manager, id})) {}
  ~RefreshingScope() { runningRefresh = previous_; }
  RefreshingScope(const RefreshingScope&) = delete;
  RefreshingScope& operator=(const RefreshingScope&) = delete;

 private:
  RunningRefresh previous_;
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
  return {"Auth/SessionManager", function, at.line()};
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
      [manager](const std::optional<std::string>& token) { return manager->refreshSession(token); },
      [manager](const Session& session) { return manager->update(session); },
      [manager] { manager->remove(); },
      [manager] { manager->startAutoRefreshToken(); },
      [manager] { manager->stopAutoRefreshToken(); },
      [manager](std::chrono::steady_clock::time_point giveUpAt) { manager->close(giveUpAt); },
  };
}

LiveSessionManager::LiveSessionManager(std::int64_t clientID) : clientID_(clientID) {}

Session LiveSessionManager::session() {
  const Dependencies dependencies = Dependencies::get(clientID_);
  return trace(
      dependencies.logger,
      [&] {
        const std::optional<Session> stored = lookAtStore();
        if (!stored) {
          debug(dependencies, "session missing", "session()");
          throw AuthError::sessionMissing();
        }
        const double now = secondsSince1970(dependencies.date());
        if (stored->expiresAt - now >= expiryMarginSeconds) return *stored;
        debug(dependencies, "session expired", "session()");
        return refresh({stored->refreshToken, stored});
      },
      site("session()"));
}

Session LiveSessionManager::refreshSession(const std::optional<std::string>& refreshToken) {
  if (refreshToken) return refresh({*refreshToken, std::nullopt});
  std::optional<Session> stored = lookAtStore();
  if (!stored) throw AuthError::sessionMissing();
  std::string token = stored->refreshToken;
  return refresh({std::move(token), std::move(stored)});
}

Session LiveSessionManager::refresh(RefreshOf refresh) {
  // The token itself stays out of the log: a fingerprint tells refreshes apart well enough.
  const JSONObject context{
      {"refresh_id", upperCaseUUID()},
      {"refresh_token", detail::refreshTokenFingerprint(refresh.refreshToken)}};
  return VoduzaziLoggerTaskLocal::withValue(context, [&] {
    const Dependencies dependencies = Dependencies::get(clientID_);
    return trace(
        dependencies.logger, [&] { return refreshOrReplacement(refresh); },
        site("refreshSession(_:)"));
  });
}

Session LiveSessionManager::refreshOrReplacement(const RefreshOf& refresh) {
  const std::string& refreshToken = refresh.refreshToken;
  std::unique_lock lock(mutex_);
  // Its client is released: nothing may reach the caller's transport or store any more.
  if (closed_) throw CancellationError();
  if (!wasReplacedLocked(refreshToken)) {
    const bool joins = runningRefresh.manager != this && !inFlightRefreshes_.empty();
    Task<Session> task = joinOrStartRefreshLocked(refresh);
    lock.unlock();
    if (joins)
      debug(Dependencies::get(clientID_), "Refresh already in flight", "refreshSession(_:)");
    return task.value();
  }
  lock.unlock();
  // The caller read the session before a refresh replaced it: sending its spent token again
  // would look like theft to the server, which would then end the session.
  const Dependencies dependencies = Dependencies::get(clientID_);
  debug(dependencies, "Refresh token already replaced; using the stored session",
        "refreshSession(_:)");
  // Read under the storage lock, which every write holds until it has recorded the token it
  // spent, so that a stored session and the record of spent tokens are seen as of one moment.
  std::unique_lock storage(storageMutex_);
  std::optional<Session> stored = dependencies.sessionStorage.get();
  const bool spent = stored && isReplaced(stored->refreshToken);
  storage.unlock();
  if (!stored) throw AuthError::sessionMissing();
  if (spent) {
    // The replacement could not be stored, so the store still holds the spent token.
    if (dependencies.logger) {
      dependencies.logger->error("The refreshed session was not stored and its old token is spent",
                                 {}, site("refreshSession(_:)"));
    }
    throw AuthError::sessionMissing();
  }
  return std::move(*stored);
}

bool LiveSessionManager::isReplaced(const std::string& refreshToken) const {
  std::lock_guard lock(mutex_);
  return wasReplacedLocked(refreshToken);
}

bool LiveSessionManager::wasReplacedLocked(const std::string& refreshToken) const {
  if (replacedTokens_.empty()) return false;
  const std::string fingerprint = detail::refreshTokenFingerprint(refreshToken);
  return std::find(replacedTokens_.begin(), replacedTokens_.end(), fingerprint) !=
         replacedTokens_.end();
}

Task<Session> LiveSessionManager::joinOrStartRefreshLocked(const RefreshOf& refresh) {
  if (runningRefresh.manager == this) {
    // Called back from a listener of our own refresh, which waiting for would never end; another
    // refresh of this token may be joined.
    for (const InFlightRefresh& running : inFlightRefreshes_) {
      if (running.id != runningRefresh.id && running.refreshToken == refresh.refreshToken) {
        return running.task;
      }
    }
  } else if (!inFlightRefreshes_.empty()) {
    return inFlightRefreshes_.back().task;
  }
  // Started and recorded under the lock, so a later caller can only join it; the task clears
  // the record under the same lock, hence never before it was made.
  const std::uint64_t id = nextRefreshID_++;
  inFlightRefreshes_.push_back(
      InFlightRefresh{id, refresh.refreshToken, startRefreshTask(refresh, id)});
  return inFlightRefreshes_.back().task;
}

Task<Session> LiveSessionManager::startRefreshTask(const RefreshOf& refresh, std::uint64_t id) {
  return Task<Session>([self = shared_from_this(), refresh, id] {
    struct Ending {
      LiveSessionManager& manager;
      std::uint64_t id;
      ~Ending() { manager.refreshEnded(id); }
    } ending{*self, id};
    const detail::BackgroundWorkScope background(self->clientID_);
    RefreshingScope scope(self.get(), id);
    return self->performRefresh(refresh);
  });
}

Session LiveSessionManager::performRefresh(const RefreshOf& refresh) {
  const Dependencies dependencies = Dependencies::get(clientID_);
  debug(dependencies, "Refresh task started", "refreshSession(_:)");
  const std::uint64_t generation = storedGeneration();
  RefreshResult result;
  {
    // Programs sharing the store refresh one at a time, so that no two send the same token.
    const SessionStorage::RefreshTurn turn =
        dependencies.sessionStorage.takeRefreshTurn(refreshTurnWait);
    result = refreshHoldingTurn(refresh, generation);
  }
  // Announced once the turn is over: a listener may refresh again.
  if (result.announcement) announce(*result.announcement);
  if (result.failure) std::rethrow_exception(result.failure);
  return std::move(*result.session);
}

LiveSessionManager::RefreshResult LiveSessionManager::refreshHoldingTurn(const RefreshOf& refresh,
                                                                         std::uint64_t generation) {
  // Cancelled (its client released) before anything was sent: the token is not spent.
  this_task::checkCancellation();
  const Dependencies dependencies = Dependencies::get(clientID_);
  // What this look finds unannounced goes out whatever the request does, unless the request's
  // own outcome supersedes it.
  std::optional<detail::Announcement> looked;
  if (refresh.stored) {
    auto [current, announcement] = lookAtStoreLocking();
    if (!current) {
      return {std::nullopt, std::move(announcement),
              std::make_exception_ptr(AuthError::sessionMissing())};
    }
    if (!sameTokens(*current, *refresh.stored)) {
      // Another program (or this one) refreshed or signed in since the caller read the session:
      // that session is the one to use, and the token read before may well be spent.
      debug(dependencies, "Session replaced since it was read; using the stored one",
            "refreshSession(_:)");
      return {std::move(current), std::move(announcement)};
    }
    looked = std::move(announcement);
  }
  // Once the request may have reached the server, the token may be spent: the answer is awaited
  // and stored whatever cancellation comes, or the store would keep a token the server no longer
  // takes; only a release that has waited long enough calls the transfer off.
  const voduzazi::detail::ScopedStopToken seenThrough{abandonment_.get_token()};
  Session session;
  try {
    session = requestRefresh(refresh);
  } catch (const AuthError& error) {
    // The server no longer knows the session: end it here too, unless this device has signed
    // out or in meanwhile, so the failure is about a session it no longer holds.
    std::optional<detail::Announcement> ended;
    if (error == AuthError::sessionMissing()) {
      if (const auto number = removeIfUnchangedSince(generation, refresh)) {
        ended = detail::Announcement{AuthChangeEvent::signedOut, std::nullopt, *number};
      }
    }
    return {std::nullopt, ended ? std::move(ended) : std::move(looked), std::current_exception()};
  } catch (...) {
    // Called off by a release: nothing more reaches the listeners.
    if (abandonment_.stop_requested()) throw;
    return {std::nullopt, std::move(looked), std::current_exception()};
  }
  const auto number = storeIfUnchangedSince(generation, session, refresh);
  if (!number) {
    // A sign-out (or another sign-in) came first: storing this answer would bring back a session
    // the device has let go of.
    debug(dependencies, "Session changed during the refresh; the new one is not kept",
          "refreshSession(_:)");
    return {std::move(session), std::move(looked)};  // stale by now, so dropped unless latest
  }
  return {session, detail::Announcement{AuthChangeEvent::tokenRefreshed, session, *number}};
}

std::optional<Session> LiveSessionManager::lookAtStore() {
  auto [current, announcement] = lookAtStoreLocking();
  if (announcement) announce(*announcement);
  return std::move(current);
}

LiveSessionManager::Look LiveSessionManager::lookAtStoreLocking() {
  std::lock_guard lock(storageMutex_);
  std::optional<Session> current = Dependencies::get(clientID_).sessionStorage.get();
  std::optional<detail::Announcement> announcement = announced_.look(current);
  return {std::move(current), std::move(announcement)};
}

void LiveSessionManager::announce(const detail::Announcement& announcement) {
  {
    std::lock_guard lock(storageMutex_);
    // A later write or announcement (a sign-out, say) makes this one stale: its listeners must
    // not end up with a session the store no longer holds.
    if (!announced_.isLatest(announcement.number)) return;
    // Being the latest, it overtakes any still waiting.
    pendingAnnouncement_ = announcement;
    // One thread emits at a time, so that no older session goes out after a newer one; the one
    // emitting takes this next. Not waiting for it keeps a listener that looks at the session,
    // on that thread or one it waits for, from waiting for itself.
    if (emittingAnnouncements_) return;
    emittingAnnouncements_ = true;
  }
  emitPendingAnnouncements();
}

void LiveSessionManager::emitPendingAnnouncements() {
  std::exception_ptr firstFailure;
  for (;;) {
    std::optional<detail::Announcement> next;
    {
      std::lock_guard lock(storageMutex_);
      // A write since it was left here makes it stale, as in announce().
      if (pendingAnnouncement_ && announced_.isLatest(pendingAnnouncement_->number)) {
        next = std::move(pendingAnnouncement_);
      }
      pendingAnnouncement_.reset();
      // Given up under the lock that announce() takes, so that none is left waiting unemitted.
      if (!next) {
        emittingAnnouncements_ = false;
        break;
      }
    }
    try {
      // Asked again while it goes out, since a write may come meanwhile (a sign-out while an
      // observer takes its time): no listener called after that write hears this one.
      Dependencies::get(clientID_).eventEmitter.emit(
          next->event, next->session, [this, number = next->number] { return isLatest(number); });
    } catch (...) {
      // What other threads left meanwhile must still go out, since nobody else will take it.
      if (!firstFailure) firstFailure = std::current_exception();
    }
  }
  if (firstFailure) std::rethrow_exception(firstFailure);
}

bool LiveSessionManager::isLatest(std::uint64_t number) const {
  std::lock_guard lock(storageMutex_);
  return announced_.isLatest(number);
}

Session LiveSessionManager::requestRefresh(const RefreshOf& refresh) {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const auto& configuration = dependencies.configuration;
  UserCredentials credentials;
  credentials.refreshToken = refresh.refreshToken;
  helpers::HTTPRequest request(detail::appendingPath(configuration.url, "token"), HTTPMethod::post,
                               {{"grant_type", "refresh_token"}}, {},
                               configuration.encoder->encode(credentials));
  return dependencies.api.execute(std::move(request), APIClient::SessionCleanup::none)
      .decoded<Session>(*configuration.decoder);
}

std::uint64_t LiveSessionManager::storedGeneration() const {
  std::lock_guard lock(storageMutex_);
  return storedGeneration_;
}

bool LiveSessionManager::storeStillHoldsLocked(const RefreshOf& refresh) const {
  if (!refresh.stored) return true;
  const std::optional<Session> current = Dependencies::get(clientID_).sessionStorage.get();
  return current && sameTokens(*current, *refresh.stored);
}

std::optional<std::uint64_t> LiveSessionManager::storeIfUnchangedSince(
    std::uint64_t generation, const Session& session, const RefreshOf& refresh) {
  std::lock_guard lock(storageMutex_);
  if (storedGeneration_ != generation || !storeStillHoldsLocked(refresh)) return std::nullopt;
  ++storedGeneration_;
  Dependencies::get(clientID_).sessionStorage.store(session);
  const std::uint64_t number = announced_.wrote(session);
  // A server that does not rotate refresh tokens answers with the token it was sent, which then
  // stays good for the next refresh.
  const std::string& replacedToken = refresh.refreshToken;
  if (session.refreshToken == replacedToken) return number;
  // Recorded before the refresh leaves the in-flight list, so that every caller still holding
  // the spent token either joins this refresh or finds the token replaced; recorded too when the
  // new session could not be stored, since the server has spent the token all the same.
  std::lock_guard refreshes(mutex_);
  replacedTokens_.push_back(detail::refreshTokenFingerprint(replacedToken));
  if (replacedTokens_.size() > replacedTokensKept) replacedTokens_.pop_front();
  return number;
}

void LiveSessionManager::forgetReplacedTokens() {
  std::lock_guard refreshes(mutex_);
  replacedTokens_.clear();
}

std::optional<std::uint64_t> LiveSessionManager::removeIfUnchangedSince(
    std::uint64_t generation, const RefreshOf& refresh) {
  std::lock_guard lock(storageMutex_);
  if (storedGeneration_ != generation || !storeStillHoldsLocked(refresh)) return std::nullopt;
  ++storedGeneration_;
  Dependencies::get(clientID_).sessionStorage.remove();
  forgetReplacedTokens();
  return announced_.wrote(std::nullopt);
}

void LiveSessionManager::refreshEnded(std::uint64_t id) {
  // Logged while still listed, so that close() waits for the log line too.
  debug(Dependencies::get(clientID_), "Refresh task ended", "refreshSession(_:)");
  std::lock_guard lock(mutex_);
  std::erase_if(inFlightRefreshes_,
                [id](const InFlightRefresh& refresh) { return refresh.id == id; });
  refreshEnded_.notify_all();
}

bool LiveSessionManager::refreshesEndBy(const std::vector<std::uint64_t>& ids,
                                        std::chrono::steady_clock::time_point giveUpAt) {
  std::unique_lock lock(mutex_);
  return refreshEnded_.wait_until(lock, giveUpAt, [&] {
    return std::none_of(inFlightRefreshes_.begin(), inFlightRefreshes_.end(),
                        [&](const InFlightRefresh& refresh) {
                          return std::find(ids.begin(), ids.end(), refresh.id) != ids.end();
                        });
  });
}

bool LiveSessionManager::update(const Session& session) {
  std::lock_guard lock(storageMutex_);
  ++storedGeneration_;
  forgetReplacedTokens();
  announced_.wrote(session);
  return Dependencies::get(clientID_).sessionStorage.store(session);
}

void LiveSessionManager::remove() {
  std::lock_guard lock(storageMutex_);
  ++storedGeneration_;
  forgetReplacedTokens();
  announced_.wrote(std::nullopt);
  Dependencies::get(clientID_).sessionStorage.remove();
}

void LiveSessionManager::startAutoRefreshToken() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
  }
  debug(Dependencies::get(clientID_), "start auto refresh token", "startAutoRefreshToken()");
  std::lock_guard lock(mutex_);
  if (closed_) return;
  retireAutoRefreshLoopLocked();
  startAutoRefreshTokenTask_.emplace([self = shared_from_this()] {
    const detail::BackgroundWorkScope background(self->clientID_);
    self->runAutoRefreshLoop();
  });
}

void LiveSessionManager::stopAutoRefreshToken() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
  }
  debug(Dependencies::get(clientID_), "stop auto refresh token", "stopAutoRefreshToken()");
  std::lock_guard lock(mutex_);
  retireAutoRefreshLoopLocked();
}

void LiveSessionManager::retireAutoRefreshLoopLocked() {
  std::erase_if(endingLoops_, [](const Task<void>& loop) { return loop.isFinished(); });
  if (!startAutoRefreshTokenTask_) return;
  startAutoRefreshTokenTask_->cancel();
  endingLoops_.push_back(std::move(*startAutoRefreshTokenTask_));
  startAutoRefreshTokenTask_.reset();
}

void LiveSessionManager::close(std::chrono::steady_clock::time_point giveUpAt) {
  if (isAutoRefreshRunning()) {
    debug(Dependencies::get(clientID_), "stop auto refresh token", "stopAutoRefreshToken()");
  }
  std::vector<Task<void>> loops;
  std::vector<Task<Session>> refreshes;
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    retireAutoRefreshLoopLocked();
    loops = endingLoops_;
    for (const InFlightRefresh& refresh : inFlightRefreshes_) {
      refreshes.push_back(refresh.task);
      ids.push_back(refresh.id);
    }
  }
  // A refresh waiting for its turn stops waiting; one whose request went out may yet end.
  for (const Task<Session>& refresh : refreshes) refresh.cancel();
  // On one of those threads (a listener of a refresh released the client), the work waits for
  // this very call: it ends by itself, and starts nothing new.
  if (detail::isBackgroundWorkOf(clientID_)) return;
  if (!refreshesEndBy(ids, giveUpAt)) {
    // A server that stopped answering must not hold up the application's quit for a minute.
    const Dependencies dependencies = Dependencies::get(clientID_);
    if (dependencies.logger) {
      dependencies.logger->warning(
          "Release called off a refresh still under way; an answer arriving later is lost",
          {}, site("close()"));
    }
    abandonment_.request_stop();
  }
  // Callers of a refresh have its outcome; a loop may have ended by a logger that threw.
  for (const Task<Session>& refresh : refreshes) voduzazi::detail::waitForEnd(refresh);
  for (const Task<void>& loop : loops) voduzazi::detail::waitForEnd(loop);
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
        const std::optional<Session> stored = lookAtStore();
        if (!stored) return;
        const double ticks = std::trunc((stored->expiresAt - now) / autoRefreshTickSeconds);
        std::ostringstream message;
        message << "access token expires in " << static_cast<long long>(ticks)
                << " ticks, a tick lasts " << std::fixed;
        message.precision(1);
        message << autoRefreshTickSeconds << "s, refresh threshold is " << autoRefreshTickThreshold
                << " ticks";
        debug(dependencies, message.str(), "autoRefreshTokenTick()");
        if (ticks > autoRefreshTickThreshold) return;
        try {
          refresh({stored->refreshToken, stored});
        } catch (...) {
          // The next tick tries again.
        }
      },
      site("autoRefreshTokenTick()"));
}

}  // namespace voduzazi::auth
