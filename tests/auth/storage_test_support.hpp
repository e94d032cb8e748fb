// A store that can be told to fail, and the session every storage test keeps.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "tests/auth/record_test_support.hpp"
#include "tests/helpers/test_support.hpp"
#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/auth/session.hpp"

namespace voduzazi::auth::testing {

// An in-memory store whose operations on chosen keys throw, as a full disk or a crash would.
class FaultyStorage : public InMemoryAuthLocalStorage {
 public:
  std::set<std::string> failStoreOf;
  std::set<std::string> failRemoveOf;
  std::set<std::string> failRetrieveOf;

  void store(const std::string& key, const Data& value) override {
    if (failStoreOf.contains(key)) throw std::runtime_error("disk full");
    InMemoryAuthLocalStorage::store(key, value);
  }
  std::optional<Data> retrieve(const std::string& key) override {
    if (failRetrieveOf.contains(key)) throw std::runtime_error("unreadable");
    return InMemoryAuthLocalStorage::retrieve(key);
  }
  void remove(const std::string& key) override {
    if (failRemoveOf.contains(key)) throw std::runtime_error("interrupted");
    InMemoryAuthLocalStorage::remove(key);
  }
};

// A fresh folder under the temporary directory, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "auth-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline Session sampleSession(std::string accessToken = "header.payload.signature") {
  Session session = authJSONDecoder()->decode<Session>(sessionBody());
  session.accessToken = std::move(accessToken);
  return session;
}

}  // namespace voduzazi::auth::testing
