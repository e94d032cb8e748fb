// SessionManager: hands out a usable session (refreshed first when it expires within 30 seconds),
// refreshes tokens so that concurrent callers share one request, stores and deletes the session,
// and runs the auto-refresh loop. LiveSessionManager is the object behind it.
//
//   SessionManager manager = SessionManager::live(clientID);
//   Session session = manager.session();          // AuthError sessionMissing when none is stored
//   manager.startAutoRefresh();                    // a tick at once, then every 30 seconds
//   manager.stopAutoRefresh();
//   manager.close(giveUpAt);                       // for good; work still under way then is cut
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "voduzazi/auth/detail/session_announcements.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::auth {

// A value type of operations; copies share one live manager. Safe from any thread.
struct SessionManager {
  // The stored session, refreshed first when it expires within 30 seconds. Throws AuthError
  // sessionMissing when none is stored, or the refresh's error. What another program sharing
  // the store changed there since this one last looked is announced first, once, to this
  // client's listeners: TOKEN_REFRESHED for a new token of the same user, SIGNED_IN for another
  // user's session, SIGNED_OUT for an empty store (each auto-refresh tick looks the same way).
  // While another thread is announcing, that thread announces it just after, and this call
  // returns without waiting; announcements go out in the store's order, never an older session
  // after a newer one. So a call that announces is held until nothing is left: as long as
  // another program writes faster than this program's observers and listeners take. A write of
  // this program meanwhile (a sign-out, a sign-in) makes an announcement stale: no listener
  // called after it hears that one. The first look of a program only tells it where it starts.
  std::function<Session()> session;
  // The session a refresh with this token (none: the stored session's) gives, once stored and
  // announced as TOKEN_REFRESHED (or left to the thread announcing then, as above). Joins a
  // refresh already under way (whose token then counts). A token that a completed refresh
  // already replaced is never sent again: the stored session that replaced it comes back
  // instead. Programs sharing the store take turns: a refresh of the stored session that finds
  // it replaced by another program meanwhile takes that session instead of sending its token.
  // Throws the refresh's error (sessionMissing when none is stored), or the store's when no
  // turn could be had within refreshTurnWait.
  std::function<Session(const std::optional<std::string>& refreshToken)> refreshSession;
  // Store or delete the session; no event. update returns false when the store failed.
  std::function<bool(const Session&)> update;
  std::function<void()> remove;
  // Start (or restart) and stop the auto-refresh loop; neither waits for the loop.
  std::function<void()> startAutoRefresh;
  std::function<void()> stopAutoRefresh;
  // Ends the manager's background work for good, for its client's release: stops every
  // auto-refresh loop, and a refresh that has not sent its request yet (one waiting for its turn,
  // say) sends none. A refresh whose request is under way may end until `giveUpAt`, its answer
  // stored (the server has spent the old token); then its transfer is called off and an answer
  // arriving later is lost, so the server may have spent the stored token. Then waits until the
  // loops and refresh tasks have ended (a transport that ends a cancelled transfer at once, as
  // URLSession does, keeps that wait short), unless called on one of the client's own
  // background threads, where it cannot wait. Afterwards no loop starts and a refresh throws
  // CancellationError, as one called off does.
  std::function<void(std::chrono::steady_clock::time_point giveUpAt)> close;

  static SessionManager live(std::int64_t clientID);
};

// Shared objects: safe; its task handles sit behind its mutex, which is never held while a
// request, a wait or a listener runs. Its writes to session storage are serialised by a second
// mutex, held only around the write (and taken before the first when both are held). One thread
// at a time emits announcements, holding no lock; another thread's announcement meanwhile is
// left to it, the latest replacing any still waiting, so that nobody waits for it, and the one
// emitting emits until none is left. A refresh holds the store's refresh turn (shared with other
// programs) from before its request until its answer is stored, outside both mutexes and never
// while a listener runs. Lifetime: held by shared_ptr; a running loop or refresh keeps it alive
// until it ends; close() waits for both.
class LiveSessionManager : public std::enable_shared_from_this<LiveSessionManager> {
 public:
  static constexpr double expiryMarginSeconds = 30;
  static constexpr double autoRefreshTickSeconds = 30;
  static constexpr int autoRefreshTickThreshold = 3;
  // Longer than a refresh request may stay silent before it times out (60 s), so that a waiting
  // refresh outlasts a turn whose server stopped answering.
  static constexpr std::chrono::seconds refreshTurnWait{70};

  explicit LiveSessionManager(std::int64_t clientID);

  Session session();
  Session refreshSession(const std::optional<std::string>& refreshToken);
  bool update(const Session& session);
  void remove();
  void startAutoRefreshToken();
  void stopAutoRefreshToken();
  void close(std::chrono::steady_clock::time_point giveUpAt);
  // One look at the stored session: refreshes it when at most three ticks are left. Never throws.
  void autoRefreshTokenTick();

  bool isAutoRefreshRunning() const;

 private:
  // What a refresh sends, and the stored session it refreshes when its caller read the token
  // from the store (a caller's own token otherwise).
  struct RefreshOf {
    std::string refreshToken;
    std::optional<Session> stored;
  };

  struct InFlightRefresh {
    std::uint64_t id;
    std::string refreshToken;
    Task<Session> task;
  };

  // A refresh of `refresh`, in its logging frame.
  Session refresh(RefreshOf refresh);
  Session refreshOrReplacement(const RefreshOf& refresh);
  // Under mutex_: the refresh this caller waits for, joined or started and recorded.
  Task<Session> joinOrStartRefreshLocked(const RefreshOf& refresh);
  // Under mutex_: whether a completed refresh replaced this token in the stored session.
  bool wasReplacedLocked(const std::string& refreshToken) const;
  bool isReplaced(const std::string& refreshToken) const;
  Task<Session> startRefreshTask(const RefreshOf& refresh, std::uint64_t id);
  // What a refresh came to: the session (none on failure), what to announce once the refresh
  // turn is over, and the failure to pass on.
  struct RefreshResult {
    std::optional<Session> session{};
    std::optional<detail::Announcement> announcement{};
    std::exception_ptr failure{};
  };
  // One look at the store: the session it holds and, when that is not what this program last
  // announced or wrote, the announcement that tells its listeners.
  struct Look {
    std::optional<Session> session;
    std::optional<detail::Announcement> announcement;
  };

  Session performRefresh(const RefreshOf& refresh);
  RefreshResult refreshHoldingTurn(const RefreshOf& refresh, std::uint64_t generation);
  // Reads the store and announces what another program changed there since this one last
  // looked (another user's sign-in, a new token, a sign-out), once.
  std::optional<Session> lookAtStore();
  // The read and its look under storageMutex_, so that no write of this program comes between;
  // announcing is left to the caller, outside every lock.
  Look lookAtStoreLocking();
  // Emits the announcement unless a later write or announcement has made it stale. While
  // another thread emits, leaves it to that thread and returns at once.
  void announce(const detail::Announcement& announcement);
  // As the emitting thread: emits what is left for it, in order, until nothing is. Only the
  // latest announcement is ever left there, so each one emitted is newer than the one before.
  // Each is dropped once stale: before it goes out, and before each of its listeners. An emit
  // that throws does not end the loop; the first failure is rethrown once nothing is left.
  void emitPendingAnnouncements();
  // Whether the announcement numbered `number` is still current: nothing was written or
  // announced since.
  bool isLatest(std::uint64_t number) const;
  // The server's answer to the refresh grant, decoded.
  Session requestRefresh(const RefreshOf& refresh);
  void refreshEnded(std::uint64_t id);
  // Waits until none of `ids` is in flight any more, or until `giveUpAt`; false when one still is.
  bool refreshesEndBy(const std::vector<std::uint64_t>& ids,
                      std::chrono::steady_clock::time_point giveUpAt);
  // Under mutex_: lets the current loop go to end in the background, where close() finds it.
  void retireAutoRefreshLoopLocked();
  // Writes through the manager count as generations, so a refresh can tell whether the session
  // changed while its request was under way; each write happens under storageMutex_.
  std::uint64_t storedGeneration() const;
  // Stores `session` unless this program wrote the session since `generation`, or the store no
  // longer holds the session `refresh` read from it (another program signed in or out). Also
  // records the sent token as spent when the new session carries another refresh token,
  // whether or not the store kept it.
  // Gives the write's announcement number when it stored the session.
  std::optional<std::uint64_t> storeIfUnchangedSince(std::uint64_t generation,
                                                     const Session& session,
                                                     const RefreshOf& refresh);
  // Under storageMutex_: whether the store still holds the session `refresh` was read from (or
  // the refresh was of a caller's own token).
  bool storeStillHoldsLocked(const RefreshOf& refresh) const;
  // Under storageMutex_.
  void forgetReplacedTokens();
  std::optional<std::uint64_t> removeIfUnchangedSince(std::uint64_t generation,
                                                      const RefreshOf& refresh);
  void runAutoRefreshLoop();

  // A few spent tokens are enough: a caller holds a token only from its read of the store until
  // its refresh call.
  static constexpr std::size_t replacedTokensKept = 32;

  const std::int64_t clientID_;
  mutable std::mutex mutex_;
  // The refresh callers join comes last; one started from a listener of a refresh runs beside it.
  std::vector<InFlightRefresh> inFlightRefreshes_;
  // Told each time a refresh leaves the list.
  std::condition_variable refreshEnded_;
  // The stop source of every refresh request under way: close() requests it once its wait has
  // run out, which ends their transfers.
  std::stop_source abandonment_;
  // Fingerprints of tokens that a stored refresh replaced, oldest first; cleared whenever the
  // session is stored or removed by other means. The server takes a second use of a spent token
  // for theft and ends the whole session.
  std::deque<std::string> replacedTokens_;
  std::optional<Task<void>> startAutoRefreshTokenTask_;
  // Loops cancelled by a restart or a stop that may still be ending (a tick's refresh under way).
  std::vector<Task<void>> endingLoops_;
  bool closed_ = false;
  std::uint64_t nextRefreshID_ = 0;
  mutable std::mutex storageMutex_;
  std::uint64_t storedGeneration_ = 0;
  // What this program last announced of the store or wrote there, so that another program's
  // change is announced once and this program's own writes not again.
  detail::SessionAnnouncements announced_;
  // Under storageMutex_: the latest announcement not emitted yet, and whether a thread is
  // emitting (and so will take it).
  std::optional<detail::Announcement> pendingAnnouncement_;
  bool emittingAnnouncements_ = false;
};

namespace detail {
// The first 12 hexadecimal digits of the token's SHA-256: enough to tell refreshes apart in a
// log, useless for signing in.
std::string refreshTokenFingerprint(const std::string& refreshToken);
}  // namespace detail

}  // namespace voduzazi::auth
