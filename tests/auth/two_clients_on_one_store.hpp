// Two auth clients on one secret store item, as two programs of one user for one project are:
// each has its own session manager, and the lock behind a refresh turn keeps out other holders in
// this process as well as in others.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/auth/storage_test_support.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::auth::testing {

// The second client logs to `logger`.
class TwoClientsOnOneStoreTest : public AuthClientTest {
 protected:
  using Refresh = std::function<Session(const SessionManager&)>;

  TwoClientsOnOneStoreTest() {
    auto options = this->options();
    options.localStorage = store;
    first = makeClient(options);
    options.logger = logger;
    second = makeClient(options);
  }

  SessionManager managerOf(const AuthClient& client) const {
    return Dependencies::get(client.clientID()).sessionManager;
  }

  // Starts a refresh of the stored session in the first client, which the server holds at
  // `gate`, then `refresh` in the second client; returns once the second's has started, and so
  // waits for its turn.
  void refreshInBothWhileTheFirstIsHeld(
      Gate& gate, Refresh refresh = [](const SessionManager& m) { return m.session(); }) {
    firstRefresh.emplace([m = managerOf(*first)] { return m.session(); });
    ASSERT_TRUE(eventually([&] { return gate.arrivals() == 1; }));
    secondRefresh.emplace([m = managerOf(*second), refresh] { return refresh(m); });
    ASSERT_TRUE(eventually([&] {
      for (const auto& message : logger->messages()) {
        if (message.message == "Refresh task started") return true;
      }
      return false;
    }));
  }

  TemporaryFolder folder;
  std::shared_ptr<KeychainLocalStorage> store = std::make_shared<KeychainLocalStorage>(
      "voduzazi.vuvere.swift", std::nullopt, folder.path() / "secrets");
  std::unique_ptr<AuthClient> first;
  std::unique_ptr<AuthClient> second;
  std::optional<Task<Session>> firstRefresh;
  std::optional<Task<Session>> secondRefresh;
};

}  // namespace voduzazi::auth::testing
