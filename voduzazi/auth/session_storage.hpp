// SessionStorage: keeps the signed-in session of one auth client in its local store, in the
// current layout (declared keys, dates as seconds since 2001), and brings values written in
// older layouts up to date before every read.
//
//   auto sessions = SessionStorage::live(configuration);
//   if (!sessions.store(session)) reportNotPersisted();   // failure already logged
//   std::optional<Session> current = sessions.get();      // never throws
//   sessions.remove();
//
// Operations may be called from any thread; their atomicity is the store's. Nothing here throws
// but a refresh turn that cannot be had: failures are logged at error level (without tokens) and
// reads yield no session.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/auth/auth_storage_configuration.hpp"
#include "voduzazi/auth/session.hpp"

namespace voduzazi::auth {

// One step that rewrites a value of an older layout; a failure is logged and the next runs.
struct StorageMigration {
  std::string name;
  std::function<void()> run;

  // The older stored layout: the session wrapped with its expiry date.
  struct StoredSession {
    Session session{};
    Date expirationDate{};

    boost::json::value toJSON(const JSONEncoder& encoder) const;
    static StoredSession fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                  const CodingPath& path = {});
  };
};

struct SessionStorage {
  // Runs the migrations, then reads the session; nothing when none is stored or readable.
  std::function<std::optional<Session>()> get;
  // True when the session was written; on false the failure is logged and the old value stays.
  std::function<bool(const Session&)> store;
  // Removes the session; a failure is logged.
  std::function<void()> remove;
  // A turn at refreshing the stored session: waits at most `wait` until no other holder of a turn
  // on the same store item, in this process or another, has one, and keeps it until the returned
  // handle is released (or the process ends). Only the secret store is shared between processes:
  // other stores give an empty handle at once. Throws, after logging, when the wait times out or
  // the store cannot be used; throws CancellationError, unlogged, when the calling task is
  // cancelled while it waits.
  using RefreshTurn = std::shared_ptr<void>;
  std::function<RefreshTurn(std::chrono::milliseconds wait)> takeRefreshTurn;

  // Storage over the values `configuration` gives at each call, with the migrations
  // "sessionNewKey", "storeSessionDirectly" and "useDefaultEncoder", in that order.
  static SessionStorage live(AuthStorageConfigurationProvider configuration);
};

// The key of the oldest layout, which the first migration moves to the session key.
inline constexpr std::string_view legacySessionKey = "voduzazi.session";

// The migrations of live(), built over the same configuration.
std::vector<StorageMigration> sessionStorageMigrations(
    const AuthStorageConfigurationProvider& configuration);

}  // namespace voduzazi::auth
