// AuthClientConfiguration (AuthClient::Configuration): where the auth client talks to and how:
// the auth API's URL, extra headers, the redirect flow, the session's store and key, the logger,
// the JSON coders and the transport.
//
//   AuthClient::Configuration configuration({
//       .url = boost::urls::url("http://127.0.0.1:8484/auth/v1"),
//       .headers = {{"apikey", anonKey}},
//       .localStorage = AuthClient::Configuration::defaultLocalStorage(),
//   });
//   configuration.headers;   // {"X-Client-Info": "zazu-zivad/2.33.2", "apikey": ...}
#pragma once

#include <boost/url/url.hpp>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi::auth {

// A value type: copies are independent, but the store, logger, coders and fetch function they
// point to are shared. Safe to read from any thread.
struct AuthClientConfiguration {
  // What the caller gives; the designated-initialiser form stands for the labelled arguments.
  struct Options {
    std::optional<boost::urls::url> url;  // none: http://localhost:9999
    HeaderDictionary headers;
    AuthFlowType flowType = AuthFlowType::pkce;
    std::optional<boost::urls::url> redirectToURL;
    std::optional<std::string> storageKey;
    std::shared_ptr<AuthLocalStorage> localStorage;  // none: defaultLocalStorage()
    std::shared_ptr<VoduzaziLogger> logger;
    std::shared_ptr<const JSONEncoder> encoder;  // none: jsonEncoder()
    std::shared_ptr<const JSONDecoder> decoder;  // none: jsonDecoder()
    FetchHandler fetch;                          // none: the shared URL session
    bool autoRefreshToken = true;
  };

  // The URL (or the loopback default), the headers completed with every default header whose
  // key (compared letter for letter) they lack, and the other options as given.
  explicit AuthClientConfiguration(Options options);

  boost::urls::url url;
  HeaderDictionary headers;
  AuthFlowType flowType;
  std::optional<boost::urls::url> redirectToURL;
  std::optional<std::string> storageKey;
  std::shared_ptr<AuthLocalStorage> localStorage;
  std::shared_ptr<VoduzaziLogger> logger;
  std::shared_ptr<const JSONEncoder> encoder;
  std::shared_ptr<const JSONDecoder> decoder;
  FetchHandler fetch;
  bool autoRefreshToken;

  static constexpr AuthFlowType defaultFlowType = AuthFlowType::pkce;
  static constexpr bool defaultAutoRefreshToken = true;
  // {"X-Client-Info": "zazu-zivad/<version>"}.
  static const HeaderDictionary& defaultHeaders();
  // The auth coders (authJSONEncoder(), authJSONDecoder()): the library's date format and
  // snake_case keys on the wire. One instance each per process, never destroyed.
  static const std::shared_ptr<const JSONEncoder>& jsonEncoder();
  static const std::shared_ptr<const JSONDecoder>& jsonDecoder();
  // The secret store of the desktop user, for the service "voduzazi.vuvere.swift".
  static std::shared_ptr<AuthLocalStorage> defaultLocalStorage();
};

}  // namespace voduzazi::auth
