#include "voduzazi/auth/auth_client_configuration.hpp"

#include <utility>

#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/keychain_local_storage.hpp"
#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi::auth {

AuthClientConfiguration::AuthClientConfiguration(Options options)
    : url(options.url.value_or(defaultAuthURL())),
      headers(std::move(options.headers)),
      flowType(options.flowType),
      redirectToURL(std::move(options.redirectToURL)),
      storageKey(std::move(options.storageKey)),
      localStorage(options.localStorage ? std::move(options.localStorage)
                                        : defaultLocalStorage()),
      logger(std::move(options.logger)),
      encoder(options.encoder ? std::move(options.encoder) : jsonEncoder()),
      decoder(options.decoder ? std::move(options.decoder) : jsonDecoder()),
      fetch(options.fetch ? std::move(options.fetch) : defaultFetch()),
      autoRefreshToken(options.autoRefreshToken) {
  // The caller's value wins: insert adds only the keys not already there.
  for (const auto& [key, value] : defaultHeaders()) headers.insert({key, value});
}

const HeaderDictionary& AuthClientConfiguration::defaultHeaders() {
  static const HeaderDictionary* const headers =
      new HeaderDictionary{{"X-Client-Info", "zazu-zivad/" + std::string(version)}};
  return *headers;
}

const std::shared_ptr<const JSONEncoder>& AuthClientConfiguration::jsonEncoder() {
  static const std::shared_ptr<const JSONEncoder>* const encoder =
      new std::shared_ptr<const JSONEncoder>(authJSONEncoder());
  return *encoder;
}

const std::shared_ptr<const JSONDecoder>& AuthClientConfiguration::jsonDecoder() {
  static const std::shared_ptr<const JSONDecoder>* const decoder =
      new std::shared_ptr<const JSONDecoder>(authJSONDecoder());
  return *decoder;
}

std::shared_ptr<AuthLocalStorage> AuthClientConfiguration::defaultLocalStorage() {
  return auth::defaultLocalStorage();
}

}  // namespace voduzazi::auth
