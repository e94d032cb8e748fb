// Dependencies: the collaborators of one auth client, kept in a process-wide registry under the
// client's id. The client and every live component built for it carry only the id and look up
// what they need at each use.
//
//   Dependencies deps = Dependencies::get(clientID);   // a copy sharing the live components
//   deps.eventEmitter.emit(AuthChangeEvent::signedOut, std::nullopt);
//   Dependencies::update(clientID, [&](Dependencies& d) { d.date = testDate; });   // tests
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "voduzazi/auth/api_client.hpp"
#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/auth_state_change_event_emitter.hpp"
#include "voduzazi/auth/auth_storage_configuration.hpp"
#include "voduzazi/auth/code_verifier_storage.hpp"
#include "voduzazi/auth/pkce.hpp"
#include "voduzazi/auth/session_manager.hpp"
#include "voduzazi/auth/session_storage.hpp"
#include "voduzazi/auth/url_opener.hpp"
#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi::auth {

// A value type whose fields are shared handles: a copy uses the same live components.
// The registry: safe from any thread; its lock is held only while an entry is copied in or out.
// Entries live for the rest of the process.
struct Dependencies {
  AuthClientConfiguration configuration;
  std::shared_ptr<HTTPClientType> http;
  APIClient api;
  CodeVerifierStorage codeVerifierStorage;
  SessionStorage sessionStorage;
  SessionManager sessionManager;
  AuthStateChangeEventEmitter eventEmitter;
  std::function<Date()> date;       // the wall-clock time
  std::shared_ptr<AnyClock> clock;  // what background loops sleep on
  URLOpener urlOpener;
  PKCE pkce;
  std::shared_ptr<VoduzaziLogger> logger;  // tags lines with "client_id"; none without a logger

  // The entry of `clientID`. A client id that was never registered stops the program with
  // "Dependencies not found for id: <id>".
  static Dependencies get(std::int64_t clientID);
  // Stores the entry of `clientID`, replacing an earlier one.
  static void set(std::int64_t clientID, Dependencies dependencies);
  // Changes the entry of `clientID` in place (under the registry's lock: keep `change` short).
  static void update(std::int64_t clientID, const std::function<void(Dependencies&)>& change);

  // True once the process has begun to exit: background loops stop instead of reading an entry
  // whose collaborators may already be gone.
  static bool teardownHasBegun();
};

// What session storage and code-verifier storage read from the client's entry at each use: its
// storage key, store and logger.
AuthStorageConfigurationProvider storageConfigurationOf(std::int64_t clientID);

}  // namespace voduzazi::auth
