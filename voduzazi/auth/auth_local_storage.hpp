// AuthLocalStorage: the small key/value store of byte strings in which the auth client keeps its
// session and its PKCE code verifier; InMemoryAuthLocalStorage keeps the values in the process.
//
//   auto storage = std::make_shared<InMemoryAuthLocalStorage>();
//   storage->store("voduzazi.auth.token", bytes);
//   std::optional<Data> bytes = storage->retrieve("voduzazi.auth.token");
//   storage->remove("voduzazi.auth.token");
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "voduzazi/helpers/data.hpp"

namespace voduzazi::auth {

// Implementations must accept calls from any thread. Each operation may throw; what a missing
// key gives (nothing, or an error) is the implementation's to say.
class AuthLocalStorage {
 public:
  virtual ~AuthLocalStorage() = default;
  virtual void store(const std::string& key, const Data& value) = 0;
  virtual std::optional<Data> retrieve(const std::string& key) = 0;
  virtual void remove(const std::string& key) = 0;
};

// Values in a map behind a mutex. A missing key reads as nothing and removing it does nothing.
// Shared objects: safe.
class InMemoryAuthLocalStorage : public AuthLocalStorage {
 public:
  void store(const std::string& key, const Data& value) override;
  std::optional<Data> retrieve(const std::string& key) override;
  void remove(const std::string& key) override;

 private:
  std::mutex mutex_;
  std::map<std::string, Data, std::less<>> values_;
};

}  // namespace voduzazi::auth
