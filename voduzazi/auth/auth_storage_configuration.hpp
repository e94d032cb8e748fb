// The values that session storage and code-verifier storage read from their client at each use:
// the storage key, the store and the logger.
//
//   AuthStorageConfigurationProvider configuration = [storage, logger] {
//     return AuthStorageConfiguration{std::nullopt, storage, logger};
//   };
//   auto sessions = SessionStorage::live(configuration);
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::auth {

struct AuthStorageConfiguration {
  std::optional<std::string> storageKey{};
  std::shared_ptr<AuthLocalStorage> localStorage{};
  std::shared_ptr<VoduzaziLogger> logger{};

  // storageKey, else "voduzazi.auth.token".
  std::string sessionKey() const { return storageKey.value_or("voduzazi.auth.token"); }
};

// Called at every operation, from any thread; must return a configuration with a store.
using AuthStorageConfigurationProvider = std::function<AuthStorageConfiguration()>;

}  // namespace voduzazi::auth
