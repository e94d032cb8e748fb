#include "voduzazi/auth/auth_local_storage.hpp"

namespace voduzazi::auth {

void InMemoryAuthLocalStorage::store(const std::string& key, const Data& value) {
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(key, value);
}

std::optional<Data> InMemoryAuthLocalStorage::retrieve(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void InMemoryAuthLocalStorage::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
}

}  // namespace voduzazi::auth
