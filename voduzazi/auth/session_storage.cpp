#include "voduzazi/auth/session_storage.hpp"

#include "voduzazi/auth/keychain_local_storage.hpp"

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

// The bytes under `key`, or nothing when nothing is stored or it cannot be read.
std::optional<Data> readQuietly(AuthLocalStorage& storage, const std::string& key) {
  try {
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

void unwrapStoredSession(const AuthStorageConfiguration& configuration) {
  AuthLocalStorage& storage = *configuration.localStorage;
  const std::string key = configuration.sessionKey();
  auto bytes = readQuietly(storage, key);
  if (!bytes) return;
  std::optional<StorageMigration::StoredSession> stored;
  try {
    stored = authJSONDecoder()->decode<StorageMigration::StoredSession>(*bytes);
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
  std::optional<Session> session;
  try {
    session = authJSONDecoder()->decode<Session>(*bytes);
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

std::vector<StorageMigration> sessionStorageMigrations(
    const AuthStorageConfigurationProvider& configuration) {
  const auto over = [configuration](void (*step)(const AuthStorageConfiguration&)) {
    return [configuration, step] { step(configuration()); };
  };
  return {{"sessionNewKey", over(moveToSessionKey)},
          {"storeSessionDirectly", over(unwrapStoredSession)},
          {"useDefaultEncoder", over(switchToDefaultEncoder)}};
}

SessionStorage SessionStorage::live(AuthStorageConfigurationProvider configuration) {
  auto migrations = sessionStorageMigrations(configuration);
  SessionStorage storage;
  storage.get = [configuration, migrations]() -> std::optional<Session> {
    for (const StorageMigration& migration : migrations) {
      try {
        migration.run();
      } catch (const std::exception& error) {
        logError(configuration(),
                 "Storage migration '" + migration.name + "' failed: " + error.what(), __LINE__);
      }
    }
    const AuthStorageConfiguration current = configuration();
    try {
      auto bytes = current.localStorage->retrieve(current.sessionKey());
      if (!bytes) return std::nullopt;
      return JSONDecoder().decode<Session>(*bytes);
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
