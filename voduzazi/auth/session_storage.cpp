#include "voduzazi/auth/session_storage.hpp"

#include <array>
#include <boost/json/parse.hpp>
#include <mutex>

#include "voduzazi/auth/keychain_local_storage.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"

namespace voduzazi::auth {
namespace {

constexpr auto storedSessionFields =
    std::tuple{field("session", &StorageMigration::StoredSession::session),
               field("expirationDate", &StorageMigration::StoredSession::expirationDate)};

LogSite site(std::uint32_t line) { return {"Auth/SessionStorage", "live(clientID:)", line}; }

void logError(const AuthStorageConfiguration& configuration, std::string message,
              std::uint32_t line) {
  if (configuration.logger) configuration.logger->error(std::move(message), {}, site(line));
}

// A read that finds nothing: the keychain store reports it as itemNotFound.
bool isMissingItem(const std::exception& error) {
  const auto* keychain = dynamic_cast<const KeychainError*>(&error);
  return keychain && keychain->code() == KeychainError::Code::fromRawValue(secStatus::itemNotFound);
}

// The bytes under `key`, or nothing when nothing is stored or it cannot be read. The keychain
// store is asked without an exception for a missing item: the legacy key is missing on nearly
// every read.
std::optional<Data> readQuietly(AuthLocalStorage& storage, const std::string& key) {
  try {
    if (auto* keychain = dynamic_cast<KeychainLocalStorage*>(&storage)) {
      return keychain->retrieveIfPresent(key);
    }
    return storage.retrieve(key);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// True when nothing is stored under `key`; a store that cannot tell fails the caller.
bool isAbsent(AuthLocalStorage& storage, const std::string& key) {
  try {
    return !storage.retrieve(key);
  } catch (const std::exception& error) {
    if (isMissingItem(error)) return true;
    throw;
  }
}

// The bytes as JSON, or nothing when they are not: a check of the layout that never throws.
std::optional<boost::json::value> parsedQuietly(const Data& bytes) {
  boost::system::error_code error;
  boost::json::value json = boost::json::parse(bytes, error);
  if (error) return std::nullopt;
  return json;
}

// Whether the stored session's user has its creation date as text, under either key form. A
// session without it fails to decode with the auth coders, whose user requires a text date.
bool hasTextCreationDate(const boost::json::value& json) {
  const auto* session = json.if_object();
  const auto* user = session ? session->if_contains("user") : nullptr;
  const auto* fields = user ? user->if_object() : nullptr;
  if (!fields) return false;
  for (const char* key : {"created_at", "createdAt"}) {
    const auto* date = fields->if_contains(key);
    if (date && date->is_string()) return true;
  }
  return false;
}

// Moves the oldest value to the session key, but never over a value already there: that value
// is newer (a crash may have stopped an earlier run before it removed the old key). The old key
// goes only once the session key holds a value.
void moveToSessionKey(const AuthStorageConfiguration& configuration) {
  AuthLocalStorage& storage = *configuration.localStorage;
  const std::string legacyKey(legacySessionKey);
  auto legacy = readQuietly(storage, legacyKey);
  if (!legacy) return;
  const std::string key = configuration.sessionKey();
  if (key == legacyKey) return;  // a client whose own key is the old one has nothing to move
  if (isAbsent(storage, key)) storage.store(key, *legacy);
  try {
    storage.remove(legacyKey);
  } catch (const std::exception&) {
    // Removed on the next run.
  }
}

// The last session a read decoded, with the bytes it came from: a read that finds the very same
// bytes (the current layout, so no migration has work) skips the layout checks and the decoding.
// Keyed by the stored bytes, so any change, another process signing in or out included, is
// decoded afresh. Shared objects: safe.
class LastDecoded {
 public:
  std::optional<Session> lookup(const Data& bytes) const {
    std::lock_guard lock(mutex_);
    if (!bytes_ || *bytes_ != bytes) return std::nullopt;
    return session_;
  }
  void remember(const Data& bytes, const Session& session) {
    std::lock_guard lock(mutex_);
    bytes_ = bytes;
    session_ = session;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<Data> bytes_;
  Session session_;
};

void unwrapStoredSession(const AuthStorageConfiguration& configuration) {
  AuthLocalStorage& storage = *configuration.localStorage;
  const std::string key = configuration.sessionKey();
  auto bytes = readQuietly(storage, key);
  if (!bytes) return;
  // Only an object with a "session" member can decode as the wrapped record: anything else is
  // another layout, told apart here without paying for a failed decode on every read.
  std::optional<boost::json::value> json = parsedQuietly(*bytes);
  if (!json || !json->is_object() || !json->as_object().contains("session")) return;
  std::optional<StorageMigration::StoredSession> stored;
  try {
    stored = authJSONDecoder()->decodeJSON<StorageMigration::StoredSession>(std::move(*json));
  } catch (const std::exception&) {
    return;  // another layout
  }
  storage.store(key, authJSONEncoder()->encode(stored->session));
}

void switchToDefaultEncoder(const AuthStorageConfiguration& configuration) {
  AuthLocalStorage& storage = *configuration.localStorage;
  const std::string key = configuration.sessionKey();
  auto bytes = readQuietly(storage, key);
  if (!bytes) return;
  // The auth coders write dates as text; the current layout's are numbers, which they reject.
  std::optional<boost::json::value> json = parsedQuietly(*bytes);
  if (!json || !hasTextCreationDate(*json)) return;
  std::optional<Session> session;
  try {
    session = authJSONDecoder()->decodeJSON<Session>(std::move(*json));
  } catch (const std::exception&) {
    return;  // already in the current layout
  }
  storage.store(key, JSONEncoder().encode(*session));
}

}  // namespace

boost::json::value StorageMigration::StoredSession::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, storedSessionFields);
}

StorageMigration::StoredSession StorageMigration::StoredSession::fromJSON(
    const boost::json::value& json, const JSONDecoder& decoder, const CodingPath& path) {
  return decodeFields(json, decoder, path, storedSessionFields);
}

namespace {

struct MigrationStep {
  const char* name;
  void (*run)(const AuthStorageConfiguration&);
};

// In the order they run.
constexpr std::array<MigrationStep, 3> migrationSteps{{
    {"sessionNewKey", moveToSessionKey},
    {"storeSessionDirectly", unwrapStoredSession},
    {"useDefaultEncoder", switchToDefaultEncoder},
}};

}  // namespace

std::vector<StorageMigration> sessionStorageMigrations(
    const AuthStorageConfigurationProvider& configuration) {
  std::vector<StorageMigration> migrations;
  for (const MigrationStep& step : migrationSteps) {
    migrations.push_back({step.name, [configuration, run = step.run] { run(configuration()); }});
  }
  return migrations;
}

SessionStorage SessionStorage::live(AuthStorageConfigurationProvider configuration) {
  SessionStorage storage;
  auto lastDecoded = std::make_shared<LastDecoded>();
  storage.get = [configuration, lastDecoded]() -> std::optional<Session> {
    // Looked up once per read: the migrations and the read then use the same key and store,
    // without copying the client's registry entry four more times on every token step.
    const AuthStorageConfiguration current = configuration();
    const auto runMigrations = [&](std::size_t from, std::size_t to) {
      for (std::size_t index = from; index < to; ++index) {
        const MigrationStep& step = migrationSteps[index];
        try {
          step.run(current);
        } catch (const std::exception& error) {
          logError(current,
                   std::string("Storage migration '") + step.name + "' failed: " + error.what(),
                   __LINE__);
        }
      }
    };
    runMigrations(0, 1);
    // The very bytes decoded before are in the current layout: the layout migrations would read
    // them and find nothing to do, and the read would decode them to the same session.
    if (auto bytes = readQuietly(*current.localStorage, current.sessionKey())) {
      if (auto known = lastDecoded->lookup(*bytes)) return known;
    }
    runMigrations(1, migrationSteps.size());
    try {
      auto bytes = current.localStorage->retrieve(current.sessionKey());
      if (!bytes) return std::nullopt;
      if (auto known = lastDecoded->lookup(*bytes)) return known;
      Session session = JSONDecoder().decode<Session>(*bytes);
      lastDecoded->remember(*bytes, session);
      return session;
    } catch (const std::exception& error) {
      logError(current, std::string("Failed to retrieve session: ") + error.what(), __LINE__);
      return std::nullopt;
    }
  };
  storage.store = [configuration](const Session& session) {
    const AuthStorageConfiguration current = configuration();
    try {
      current.localStorage->store(current.sessionKey(), JSONEncoder().encode(session));
      return true;
    } catch (const std::exception& error) {
      logError(current, std::string("Failed to store session: ") + error.what(), __LINE__);
      return false;
    }
  };
  storage.takeRefreshTurn = [configuration](std::chrono::milliseconds wait) {
    const AuthStorageConfiguration current = configuration();
    auto* keychain = dynamic_cast<KeychainLocalStorage*>(current.localStorage.get());
    if (!keychain) return SessionStorage::RefreshTurn();
    try {
      return SessionStorage::RefreshTurn(
          std::make_shared<SecretItemLock>(keychain->lock(current.sessionKey(), wait)));
    } catch (const CancellationError&) {
      throw;  // the refresh was called off while it waited: no failure of the store
    } catch (const std::exception& error) {
      logError(current, std::string("Failed to take a refresh turn: ") + error.what(), __LINE__);
      throw;
    }
  };
  storage.remove = [configuration] {
    const AuthStorageConfiguration current = configuration();
    try {
      current.localStorage->remove(current.sessionKey());
    } catch (const std::exception& error) {
      logError(current, std::string("Failed to delete session: ") + error.what(), __LINE__);
    }
  };
  return storage;
}

}  // namespace voduzazi::auth
