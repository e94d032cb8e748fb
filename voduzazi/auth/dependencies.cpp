#include "voduzazi/auth/dependencies.hpp"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "voduzazi/issue_reporting/fatal_error.hpp"

namespace voduzazi::auth {

namespace {

// A plain map behind a mutex: a lookup copies one entry, never the whole map.
struct Registry {
  std::mutex mutex;
  std::map<std::int64_t, Dependencies> entries;
};

std::atomic<bool> exiting{false};

// Never destroyed: background loops of a client may still look it up while the process exits.
Registry& registry() {
  static Registry* const instance = [] {
    std::atexit([] { exiting = true; });
    return new Registry;
  }();
  return *instance;
}

[[noreturn]] void missing(std::int64_t clientID) {
  fatalError("Dependencies not found for id: " + std::to_string(clientID), "Auth/Dependencies", 29);
}

}  // namespace

Dependencies Dependencies::get(std::int64_t clientID) {
  std::optional<Dependencies> entry;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto found = r.entries.find(clientID);
    if (found != r.entries.end()) entry = found->second;
  }
  if (!entry) missing(clientID);
  return std::move(*entry);
}

void Dependencies::set(std::int64_t clientID, Dependencies dependencies) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.entries.insert_or_assign(clientID, std::move(dependencies));
}

bool Dependencies::teardownHasBegun() { return exiting; }

void Dependencies::update(std::int64_t clientID, const std::function<void(Dependencies&)>& change) {
  bool found = false;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (const auto entry = r.entries.find(clientID); entry != r.entries.end()) {
      change(entry->second);
      found = true;
    }
  }
  if (!found) missing(clientID);
}

AuthStorageConfigurationProvider storageConfigurationOf(std::int64_t clientID) {
  return [clientID] {
    // Only the three fields, copied under the registry's lock: the whole entry would be copied on
    // every session read.
    std::optional<AuthStorageConfiguration> storage;
    {
      Registry& r = registry();
      std::lock_guard lock(r.mutex);
      if (const auto entry = r.entries.find(clientID); entry != r.entries.end()) {
        const AuthClientConfiguration& configuration = entry->second.configuration;
        storage.emplace(AuthStorageConfiguration{configuration.storageKey,
                                                 configuration.localStorage, configuration.logger});
      }
    }
    if (!storage) missing(clientID);
    return std::move(*storage);
  };
}

}  // namespace voduzazi::auth
