#include "tapwick/voduzazi_service.hpp"

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cctype>
#include <iostream>

#include "tapwick/server_rows.hpp"
#include "tapwick/tapwick_error.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace tapwick {

namespace auth = voduzazi::auth;

namespace {

std::string uppercaseId(const auth::User& user) {
  std::string text = boost::uuids::to_string(user.id);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The profile row written at sign-up, keys in this order.
struct ProfileInsert {
  std::string id;
  std::string username;
  std::string email;

  boost::json::value toJSON() const {
    return boost::json::object{{"id", id}, {"username", username}, {"email", email}};
  }
};

void logFailure(std::string_view prefix, const std::exception_ptr& error) {
  std::cout << prefix << " " << errorDescription(error) << std::endl;
}

}  // namespace

std::shared_ptr<VoduzaziService> VoduzaziService::create(ServiceConfiguration configuration) {
  std::shared_ptr<VoduzaziService> service(new VoduzaziService(std::move(configuration)));
  service->start();
  return service;
}

VoduzaziService::VoduzaziService(ServiceConfiguration configuration)
    : configuration_(std::move(configuration)) {
  voduzazi::VoduzaziClientOptions options =
      configuration_.clientOptions.value_or(voduzazi::VoduzaziClientOptions{});
  if (configuration_.sessionStorage) options.auth.storage = configuration_.sessionStorage;
  client_ = std::shared_ptr<voduzazi::VoduzaziClient>(
      new voduzazi::VoduzaziClient(configuration_.projectURL, configuration_.anonKey, options),
      [release = facadeRelease_](voduzazi::VoduzaziClient* facade) {
        delete facade;
        std::lock_guard lock(release->mutex);
        release->done = true;
        release->released.notify_all();
      });
  // Read at once, before the facade's own first look at the session can refresh it: no network.
  hadStoredSession_ = client_->auth().currentSession().has_value();
}

VoduzaziService::~VoduzaziService() {
  authListener_.reset();
  stopPolling();
  client_.reset();  // the release runs here unless an auth call under way still holds the facade
  std::unique_lock lock(facadeRelease_->mutex);
  if (!facadeRelease_->released.wait_for(lock, facadeReleaseWait,
                                         [&] { return facadeRelease_->done; })) {
    std::cout << "Quit: the backend did not answer in time; what it answers now is lost."
              << std::endl;
  }
}

void VoduzaziService::start() {
  struct Restored {
    std::shared_ptr<voduzazi::ObservationToken> listener;
    std::optional<auth::Session> initial;
    std::optional<auth::Session> current;
    bool storeEmptied = false;
  };
  background(
      [client = client_, executor = configuration_.mainExecutor, weak = weak_from_this()] {
        Restored restored;
        // INITIAL_SESSION reaches the listener before onAuthStateChange returns, on this thread;
        // every later event is handed to the main thread.
        auto initial = std::make_shared<std::optional<auth::Session>>();
        restored.listener = client->auth().onAuthStateChange(
            [initial, executor, weak](auth::AuthChangeEvent event,
                                      const std::optional<auth::Session>& session) {
              if (event == auth::AuthChangeEvent::initialSession) {
                *initial = session;
                return;
              }
              executor->post([weak, event, session] {
                if (auto self = weak.lock()) self->handleAuthEvent(event, session);
              });
            });
        restored.initial = *initial;
        try {
          restored.current = client->auth().session();
        } catch (...) {
          // No stored session, or it could not be refreshed: signed out.
        }
        // A refused refresh removes the stored session; one that could not reach the backend
        // keeps it.
        restored.storeEmptied = !client->auth().currentSession();
        return restored;
      },
      [](VoduzaziService& self, voduzazi::Result<Restored> restored) {
        if (restored.isSuccess()) {
          // The session ended at start even when its SIGNED_OUT came before the listener did.
          if (self.hadStoredSession_ && restored.get().storeEmptied) self.sessionHasEnded_ = true;
          self.authListener_ = std::move(restored.get().listener);
          self.handleAuthStateChange(restored.get().initial);
          self.restoreSession(restored.get().current);
        } else {
          self.restoreSession(std::nullopt);
        }
      });
}

void VoduzaziService::handleAuthStateChange(std::optional<auth::Session> session) {
  setSession(std::move(session));
  if (!session_) {
    stopPolling();
    return;
  }
  fetchFriends();
  loadLastSeen();
  startPolling();
}

void VoduzaziService::handleAuthEvent(auth::AuthChangeEvent event,
                                      const std::optional<auth::Session>& session) {
  // Sign-ins, refreshed tokens and user updates change nothing here: the operations that caused
  // them did what they need.
  const bool ended = event == auth::AuthChangeEvent::signedOut || (!session && session_);
  if (!ended) return;
  if (signOutsUnderWay_ == 0) sessionHasEnded_ = true;
  clearSignedInState();
}

void VoduzaziService::clearSignedInState() {
  session_.reset();
  connectedFriends_.clear();
  saveConnectedFriends();
  stopPolling();
  post(didChange);
}

void VoduzaziService::restoreSession(std::optional<auth::Session> session) {
  setSession(std::move(session));
  loadConnectedFriends();
  // Friends stored for a session that is gone show nothing: the next sign-in fetches them anew.
  if (!connectedFriends_.empty() && session_) {
    configuration_.mainExecutor->post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->post(didConnectFriends);
    });
  } else if (connectedFriends_.empty()) {
    fetchFriends();
  }
  loadLastSeen();
  startPolling();
  hasStarted_ = true;
  post(didChange);
}

void VoduzaziService::setSession(std::optional<auth::Session> session) {
  session_ = std::move(session);
  post(didChange);
}

std::optional<std::string> VoduzaziService::userId() const {
  if (!session_) return std::nullopt;
  return uppercaseId(session_->user);
}

voduzazi::NotificationCenter::ObserverToken VoduzaziService::observe(
    std::function<void(std::string_view name)> observer) const {
  return configuration_.notificationCenter->addObserver(
      std::nullopt, this, [observer = std::move(observer)](const voduzazi::Notification& note) {
        if (note.name == didConnectFriends || note.name == didChange) observer(note.name);
      });
}

void VoduzaziService::post(std::string_view name) {
  configuration_.notificationCenter->post({std::string(name), this, {}});
}

void VoduzaziService::signUp(std::string email, std::string password, std::string username,
                             Completion done) {
  background(
      [client = client_, email = std::move(email), password = std::move(password),
       username = std::move(username), delay = configuration_.profileInsertDelay] {
        const auth::AuthResponse response = client->auth().signUp(email, password);
        const std::string id = uppercaseId(response.user());
        // Nothing cancels this task, so the pause always ends normally.
        voduzazi::this_task::sleepFor(delay);
        client->from("profiles").insert(ProfileInsert{id, username, email}).execute();
      },
      [done = std::move(done)](VoduzaziService&, voduzazi::Result<std::monostate> result) {
        done(result.error());
      });
}

void VoduzaziService::signIn(std::string email, std::string password, Completion done) {
  background(
      [client = client_, email = std::move(email), password = std::move(password)] {
        client->auth().signIn(email, password);
        try {
          return std::optional<auth::Session>(client->auth().session());
        } catch (...) {
          return std::optional<auth::Session>();  // signed in, but the session is unreadable
        }
      },
      [done = std::move(done)](VoduzaziService& self,
                               voduzazi::Result<std::optional<auth::Session>> session) {
        if (!session.isSuccess()) return done(session.error());
        self.sessionHasEnded_ = false;
        self.setSession(session.get());
        self.fetchFriends();
        self.loadLastSeen();
        self.startPolling();
        done(nullptr);
      });
}

void VoduzaziService::signOut(Completion done) {
  ++signOutsUnderWay_;
  background(
      [client = client_] { client->auth().signOut(auth::SignOutScope::global); },
      [done = std::move(done)](VoduzaziService& self, voduzazi::Result<std::monostate> result) {
        --self.signOutsUnderWay_;
        if (!result.isSuccess()) return done(result.error());
        self.clearSignedInState();
        done(nullptr);
      });
}

void VoduzaziService::addConnectedFriend(const std::string& friendId) {
  if (std::find(connectedFriends_.begin(), connectedFriends_.end(), friendId) !=
      connectedFriends_.end()) {
    return;
  }
  connectedFriends_.push_back(friendId);
  saveConnectedFriends();
  post(didChange);
}

void VoduzaziService::fetchFriends(std::function<void()> done) {
  const auto me = userId();
  if (!me) {
    if (done) done();
    return;
  }
  // Sent with the user's last known token, which the facade replaces with its current one: a
  // facade without a session (a refresh that failed) must not send it with the anonymous key,
  // whose empty answer under the access rules would wipe the saved list. An expired token is
  // refused instead, and the list stays.
  auto request = database().from("friends").select("friend_id").eq("user_id", *me);
  request.setHeader("Authorization", "Bearer " + session_->accessToken);
  background(
      [request = std::move(request)] { return readFriendIds(request.execute().data); },
      [done = std::move(done), me = *me](VoduzaziService& self,
                                         voduzazi::Result<std::vector<std::string>> friends) {
        if (!friends.isSuccess()) {
          logFailure("Failed to fetch friends:", friends.error());
        } else if (self.userId() == me) {
          self.adoptFriends(friends.get());
        }
        if (done) done();
      });
}

void VoduzaziService::adoptFriends(std::vector<std::string> friends) {
  connectedFriends_ = std::move(friends);
  saveConnectedFriends();
  post(didChange);
  if (connectedFriends_.empty()) return;
  configuration_.mainExecutor->post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->post(didConnectFriends);
  });
}

void VoduzaziService::saveConnectedFriends() {
  try {
    configuration_.defaults->setStringArray(connectedFriendsKey, connectedFriends_);
  } catch (...) {
    logFailure("Failed to save friends:", std::current_exception());
  }
}

void VoduzaziService::loadConnectedFriends() {
  connectedFriends_ = configuration_.defaults->stringArray(connectedFriendsKey)
                          .value_or(std::vector<std::string>{});
  post(didChange);
}

void VoduzaziService::loadLastSeen() {
  lastSeen_ = {};
  pendingMessages_.clear();
  ++lastSeenGeneration_;
  const auto me = userId();
  const auto stored = configuration_.defaults->value(lastSeenKey);
  if (!me || !stored || !stored->is_object()) return;
  if (const auto* mine = stored->as_object().if_contains(*me)) {
    lastSeen_ = LastSeen::fromJSON(*mine);
  }
}

void VoduzaziService::saveLastSeen() {
  const auto me = userId();
  if (!me) return;
  boost::json::object all;
  if (const auto stored = configuration_.defaults->value(lastSeenKey);
      stored && stored->is_object()) {
    all = stored->as_object();
  }
  all[*me] = lastSeen_.toJSON();
  try {
    configuration_.defaults->set(lastSeenKey, std::move(all));
  } catch (...) {
    logFailure("Failed to save last seen:", std::current_exception());
  }
}

}  // namespace tapwick
