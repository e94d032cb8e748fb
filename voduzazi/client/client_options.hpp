// VoduzaziClientOptions: how the facade sets up the clients it builds: the database schema and
// coders, the auth client's storage, flow and coders, the headers, transport and logger shared by
// every client, and the options of the realtime, storage and edge-functions clients.
//
//   VoduzaziClientOptions options;                          // every default
//   options.db.schema = "api";
//   options.global.headers = {{"X-Trace", "on"}};
//   options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
//   options.functions = VoduzaziClientOptions::FunctionsOptions(FunctionRegion::euWest2);
//   VoduzaziClient client("https://abcd.example.co", anonKey, options);
//
// Plain values: the facade keeps its own copy, so changing a caller's copy later changes nothing.
// The stores, coders, loggers and functions they point to are shared, not copied.
#pragma once

#include <boost/url/url.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/functions/function_region.hpp"
#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/postgrest/configuration.hpp"
#include "voduzazi/realtime/realtime_client_options.hpp"

namespace voduzazi {

// Gives the access token to send, or nothing; may throw. Called from any thread.
using AccessTokenProvider = realtime::AccessTokenFunction;

// The transport every client of the facade ends in: a data call and an upload call.
struct HTTPSession {
  FetchHandler data;
  UploadHandler upload;

  // URLSession::shared()'s data() and upload().
  static HTTPSession shared();
};

struct VoduzaziClientOptions {
  struct DatabaseOptions {
    std::optional<std::string> schema{};
    std::shared_ptr<JSONEncoder> encoder = PostgrestClientConfiguration::jsonEncoder();
    std::shared_ptr<JSONDecoder> decoder = PostgrestClientConfiguration::jsonDecoder();
  };

  struct AuthOptions {
    std::shared_ptr<auth::AuthLocalStorage> storage =
        auth::AuthClientConfiguration::defaultLocalStorage();
    std::optional<boost::urls::url> redirectToURL{};
    // None: the key derived from the project URL's host.
    std::optional<std::string> storageKey{};
    auth::AuthFlowType flowType = auth::AuthClientConfiguration::defaultFlowType;
    std::shared_ptr<const JSONEncoder> encoder = auth::AuthClientConfiguration::jsonEncoder();
    std::shared_ptr<const JSONDecoder> decoder = auth::AuthClientConfiguration::jsonDecoder();
    bool autoRefreshToken = auth::AuthClientConfiguration::defaultAutoRefreshToken;
    // When set, requests carry its token, the auth client is not asked for sessions and token
    // changes are not forwarded to the realtime clients.
    AccessTokenProvider accessToken{};
  };

  struct GlobalOptions {
    // Laid over every header of the facade (names compare without regard to letter case).
    HeaderDictionary headers{};
    HTTPSession session = HTTPSession::shared();
    std::shared_ptr<VoduzaziLogger> logger{};
  };

  struct FunctionsOptions {
    // The region's wire name, sent with every invocation; none lets the backend choose.
    std::optional<std::string> region{};

    FunctionsOptions() = default;
    explicit FunctionsOptions(std::optional<std::string> region) : region(std::move(region)) {}
    explicit FunctionsOptions(std::optional<FunctionRegion> region);
  };

  // The options of the second-generation realtime client; the facade merges its headers into
  // `headers` and supplies its logger and token function where these hold none.
  using RealtimeOptions = realtime::RealtimeClientOptions;

  struct StorageOptions {
    bool useNewHostname = false;
  };

  DatabaseOptions db{};
  AuthOptions auth{};
  GlobalOptions global{};
  FunctionsOptions functions{};
  RealtimeOptions realtime{};
  StorageOptions storage{};
};

}  // namespace voduzazi
