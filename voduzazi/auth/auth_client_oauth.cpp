// OAuth sign-in, the PKCE code exchange and the sign-in from a deep link.
#include <boost/json/object.hpp>
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/detail/log_redaction.hpp"

namespace voduzazi::auth {

Session AuthClient::exchangeCodeForSession(const std::string& authCode) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const std::optional<std::string> verifier = dependencies.codeVerifierStorage.get();
  const auto& logger = dependencies.configuration.logger;
  if (!verifier && logger) {
    logger->error(
        "code verifier not found, a code verifier should exist when calling this method.");
  }
  // Without a verifier the request still goes out: the server's refusal says what is wrong.
  boost::json::object body{{"auth_code", authCode}};
  body["code_verifier"] = verifier ? boost::json::value(*verifier) : boost::json::value(nullptr);
  helpers::HTTPRequest exchange = request("token", {{"grant_type", "pkce"}});
  exchange.body = dependencies.configuration.encoder->write(body);
  Session session = dependencies.api.execute(std::move(exchange))
                        .decoded<Session>(*dependencies.configuration.decoder);
  dependencies.codeVerifierStorage.set(std::nullopt);
  adopt(session);
  return session;
}

boost::urls::url AuthClient::getOAuthSignInURL(Provider provider, std::optional<std::string> scopes,
                                               std::optional<boost::urls::url> redirectTo,
                                               std::vector<URLQueryItem> queryParams) const {
  return getURLForProvider(
      detail::appendingPath(Dependencies::get(clientID_).configuration.url, "authorize"), provider,
      scopes, redirectTo, queryParams, std::nullopt);
}

Session AuthClient::signInWithOAuth(Provider provider, std::optional<boost::urls::url> redirectTo,
                                    std::optional<std::string> scopes,
                                    std::vector<URLQueryItem> queryParams,
                                    const LaunchFlow& launchFlow) const {
  const auto redirect =
      detail::effectiveRedirect(redirectTo, Dependencies::get(clientID_).configuration);
  const boost::urls::url signInURL =
      getOAuthSignInURL(provider, std::move(scopes), redirect, std::move(queryParams));
  return session(launchFlow(signInURL));
}

Session AuthClient::signInWithOAuth(Provider provider, std::optional<boost::urls::url>,
                                    std::optional<std::string> scopes,
                                    std::vector<URLQueryItem> queryParams,
                                    const ConfigureSession& configure) const {
  // The listener's URL is the redirect URL: the browser comes back to exactly what we wait on.
  WebAuthenticationSession webSession;
  const boost::urls::url signInURL = getOAuthSignInURL(
      provider, std::move(scopes), webSession.callbackURL(), std::move(queryParams));
  if (configure) configure(webSession);
  return session(webSession.start(signInURL));
}

void AuthClient::handle(const boost::urls::url& url) const {
  // The client's release waits for it; it reaches the client through the registry entry.
  startTask([clientID = clientID_, url] {
    const Dependencies dependencies = Dependencies::get(clientID);
    try {
      AuthClient(Borrowed{}, clientID).session(url);
    } catch (const std::exception& error) {
      if (const auto& logger = dependencies.configuration.logger) {
        // The URL (also inside the error's text) may hold tokens: it is logged redacted.
        const std::string raw(url.buffer());
        const std::string logged = voduzazi::detail::decodedURLText(url);
        std::string reason = error.what();
        auto at = raw.empty() ? std::string::npos : reason.find(raw);
        for (; at != std::string::npos; at = reason.find(raw, at)) {
          reason.replace(at, raw.size(), logged);
          at += logged.size();
        }
        logger->error("Failure loading session from url '" + logged + "' error: " + reason);
      }
    }
  });
}

}  // namespace voduzazi::auth
