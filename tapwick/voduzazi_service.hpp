// VoduzaziService: the app's one backend object. It owns the client facade, holds the signed-in
// session and the friend list (kept in the user defaults), signs users up, in and out, sends
// messages to the first friend and polls every 2 seconds for messages to show as notifications.
//
//   auto service = VoduzaziService::create(configuration);   // restores the stored session
//   service->signIn(email, password, [](std::exception_ptr error) { if (error) show(error); });
//   service->sendMessage("hello", done);
//   auto token = service->observe([&](std::string_view name) { redraw(); });
//
// Thread safety: main thread only (every operation, accessor and callback runs on the
// configuration's MainExecutor; the blocking calls run in tasks). Lifetime: shared; work in
// flight holds it weakly, so releasing it stops polling and drops late answers. Releasing it is
// the app's quit: it releases the facade too, which stores the answer of a refresh already sent
// (see ~VoduzaziService).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tapwick/last_seen.hpp"
#include "tapwick/main_executor.hpp"
#include "tapwick/user_defaults.hpp"
#include "tapwick/user_notifications.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/platform/notification_center.hpp"

namespace tapwick {

struct ServiceConfiguration {
  std::string projectURL;
  std::string anonKey;
  std::shared_ptr<MainExecutor> mainExecutor;
  std::shared_ptr<UserDefaults> defaults;
  std::shared_ptr<UserNotificationCenter> notifications;
  // The facade's options; none: the defaults. sessionStorage, when set, replaces their store.
  std::optional<voduzazi::VoduzaziClientOptions> clientOptions;
  // Where the session is kept; none: the facade's default (the secret store).
  std::shared_ptr<voduzazi::auth::AuthLocalStorage> sessionStorage;
  // Where "didConnectFriends" and state changes are posted, with the service as object.
  voduzazi::NotificationCenter* notificationCenter = &voduzazi::NotificationCenter::defaultCenter();
  std::chrono::milliseconds pollInterval{2000};
  std::chrono::milliseconds notificationTrigger{1000};
  // The pause between creating an account and writing its profile row.
  std::chrono::milliseconds profileInsertDelay{300};
};

class VoduzaziService : public std::enable_shared_from_this<VoduzaziService> {
 public:
  // Posted whenever the friend list is non-empty after a restore or a fetch.
  static constexpr std::string_view didConnectFriends = "didConnectFriends";
  // Posted after every change of session() or connectedFriends().
  static constexpr std::string_view didChange = "VoduzaziService.didChange";

  // The user-defaults keys: the friend list, and per user what was last shown.
  static constexpr std::string_view connectedFriendsKey = "connectedFriends";
  static constexpr std::string_view lastSeenKey = "lastSeenMessages";

  // Builds the facade (throws InvalidProjectURLError for a bad URL) and starts the start-up:
  // the stored session, the friend list and polling.
  static std::shared_ptr<VoduzaziService> create(ServiceConfiguration configuration);
  // Stops polling and releases the facade, waiting at most facadeReleaseWait for it: a refresh
  // already sent has its answer stored, or the next launch would send a spent token. Database
  // work under way holds no facade; an auth call under way (a sign-in, say) does, and the wait
  // for it is what the bound cuts short.
  ~VoduzaziService();
  static constexpr std::chrono::seconds facadeReleaseWait{5};

  voduzazi::VoduzaziClient& client() const { return *client_; }
  // The facade's database client, for work in tasks: it does not keep the facade alive, and
  // sends with no user token once the facade is gone.
  voduzazi::PostgrestClient database() const { return client_->database(); }
  const std::shared_ptr<MainExecutor>& mainExecutor() const { return configuration_.mainExecutor; }
  const std::shared_ptr<UserNotificationCenter>& notifications() const {
    return configuration_.notifications;
  }
  const std::optional<voduzazi::auth::Session>& session() const { return session_; }
  void setSession(std::optional<voduzazi::auth::Session> session);
  // True from the moment the backend ended the session (a sign-out elsewhere, a refused refresh)
  // until the next sign-in; never after the user's own sign-out.
  bool sessionHasEnded() const { return sessionHasEnded_; }
  // The signed-in user's id in upper case, or nothing.
  std::optional<std::string> userId() const;
  const std::vector<std::string>& connectedFriends() const { return connectedFriends_; }
  bool isPolling() const { return isPolling_; }
  bool hasStarted() const { return hasStarted_; }
  // Background steps started and not yet back on the main thread.
  std::size_t pendingWork() const { return pendingWork_; }
  // Messages whose notification the notification service has not taken yet.
  std::size_t pendingNotifications() const { return pendingMessages_.size(); }

  // Observes didConnectFriends and didChange of this service; the observer gets the name.
  [[nodiscard]] voduzazi::NotificationCenter::ObserverToken observe(
      std::function<void(std::string_view name)> observer) const;

  // Each completes on the main thread with nothing or the error, state unchanged on failure.
  void signUp(std::string email, std::string password, std::string username, Completion done);
  void signIn(std::string email, std::string password, Completion done);
  void signOut(Completion done);
  // Fails with TapwickError notLoggedInToSend or noFriendToSendTo instead of sending.
  void sendMessage(std::string text, Completion done);

  void addConnectedFriend(const std::string& friendId);
  // Replaces the friend list with the backend's; failures are logged and change nothing.
  void fetchFriends(std::function<void()> done = {});
  void saveConnectedFriends();
  void loadConnectedFriends();

  // One poll: shows every message not shown yet. A call while one is under way does nothing.
  void pollOnce(std::function<void()> done = {});
  // Polls every pollInterval after the previous poll ends; at most one loop runs.
  void startPolling();
  void stopPolling();

  // The notification of one message: "Tapwick", the text, "\nSent at: " and the time.
  // `delivered` runs once the notification service took it (true) or refused it (false).
  void showMessageNotification(const std::string& content, const std::string& date,
                               const std::string& id,
                               UserNotificationCenter::DeliveryHandler delivered = {});

 private:
  explicit VoduzaziService(ServiceConfiguration configuration);
  void start();
  void restoreSession(std::optional<voduzazi::auth::Session> session);
  void handleAuthStateChange(std::optional<voduzazi::auth::Session> session);
  // Every auth event after the initial one, on the main thread: only the end of the session is
  // acted on.
  void handleAuthEvent(voduzazi::auth::AuthChangeEvent event,
                       const std::optional<voduzazi::auth::Session>& session);
  // What signing out leaves: no session, no friends, no polling.
  void clearSignedInState();
  void afterSignIn(std::optional<voduzazi::auth::Session> session);
  void adoptFriends(std::vector<std::string> friends);
  void showNewMessages(const std::vector<MessageRow>& rows);
  void messageDelivered(std::uint64_t generation, const std::string& id, bool handedOver);
  void loadLastSeen();
  void saveLastSeen();
  void scheduleNextPoll(std::uint64_t generation);
  void post(std::string_view name);
  template <class Work, class Done>
  void background(Work work, Done done);

  ServiceConfiguration configuration_;
  // Set once the facade's destructor has returned, on whichever thread it ran.
  struct FacadeRelease {
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
  };
  std::shared_ptr<FacadeRelease> facadeRelease_ = std::make_shared<FacadeRelease>();
  // Held by the service and by auth calls under way, never by database work.
  std::shared_ptr<voduzazi::VoduzaziClient> client_;
  // Kept for the service's life, so that the end of the session is heard whenever it comes.
  std::shared_ptr<voduzazi::ObservationToken> authListener_;
  std::optional<voduzazi::auth::Session> session_;
  bool sessionHasEnded_ = false;
  // Whether the store held a session when the facade was built: its refresh, refused before the
  // listener came, may have ended the session without the listener hearing it.
  bool hadStoredSession_ = false;
  // Sign-outs under way: the SIGNED_OUT they cause is the user's own, not the session's end.
  int signOutsUnderWay_ = 0;
  std::vector<std::string> connectedFriends_;
  LastSeen lastSeen_;
  // Messages handed to the notification center, oldest first, that the marker has not passed
  // yet: it passes each only once the notification service took it, so that a quit in between
  // shows it again at the next launch instead of never.
  struct PendingMessage {
    MessageRow row;
    enum class State { scheduled, handedOver, refused } state = State::scheduled;
  };
  std::deque<PendingMessage> pendingMessages_;
  // Counts loads of the marker, so that a delivery for an earlier user is ignored.
  std::uint64_t lastSeenGeneration_ = 0;
  bool isPolling_ = false;
  // Counts started loops, so that a stopped loop's pending tick ends itself.
  std::uint64_t pollGeneration_ = 0;
  bool pollInFlight_ = false;
  bool hasStarted_ = false;
  std::size_t pendingWork_ = 0;
};

// Implementation.

template <class Work, class Done>
void VoduzaziService::background(Work work, Done done) {
  ++pendingWork_;
  runInBackground(configuration_.mainExecutor, std::move(work),
                  [weak = weak_from_this(), done = std::move(done)](auto result) mutable {
                    auto self = weak.lock();
                    if (!self) return;
                    --self->pendingWork_;
                    done(*self, std::move(result));
                  });
}

}  // namespace tapwick
