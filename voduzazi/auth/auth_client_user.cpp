// The signed-in user's record and the identities linked to it.
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/auth/detail/callback_parameters.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"

namespace voduzazi::auth {

namespace {

const HTTPField::Name& authorization() {
  static const HTTPField::Name* const name = new HTTPField::Name("Authorization");
  return *name;
}

}  // namespace

User AuthClient::user(std::optional<std::string> jwt) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest get = request("user", {}, HTTPMethod::get);
  if (!jwt) {
    return dependencies.api.authorizedExecute(std::move(get))
        .decoded<User>(*dependencies.configuration.decoder);
  }
  if (!detail::isHeaderSafe(*jwt)) throw AuthError::malformedJWT();
  get.headers.set(authorization(), "Bearer " + *jwt);
  return dependencies.api.execute(std::move(get))
      .decoded<User>(*dependencies.configuration.decoder);
}

User AuthClient::update(const UserAttributes& user,
                        std::optional<boost::urls::url> redirectTo) const {
  UserAttributes attributes = user;
  if (attributes.email) {
    const PKCEPair pkce = prepareForPKCE();
    attributes.codeChallenge = pkce.codeChallenge;
    attributes.codeChallengeMethod = pkce.codeChallengeMethod;
  }
  const Dependencies dependencies = Dependencies::get(clientID_);
  dependencies.sessionManager.session();  // sessionMissing before anything is sent
  helpers::HTTPRequest put = request(
      "user", detail::redirectQuery(redirectTo, dependencies.configuration), HTTPMethod::put);
  put.body = dependencies.configuration.encoder->encode(attributes);
  User updated = dependencies.api.authorizedExecute(std::move(put))
                     .decoded<User>(*dependencies.configuration.decoder);
  // Read again: a refresh that ended meanwhile stored newer tokens, and a sign-out or another
  // user's sign-in must not be undone by writing back what was read before the request.
  std::optional<Session> session = dependencies.sessionStorage.get();
  if (session && session->user.id == updated.id) {
    session->user = updated;
    adopt(*session, AuthChangeEvent::userUpdated);
  }
  return updated;
}

std::vector<UserIdentity> AuthClient::userIdentities() const {
  return user().identities.value_or(std::vector<UserIdentity>{});
}

Session AuthClient::linkIdentityWithIdToken(OpenIDConnectCredentials credentials) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const Session current = dependencies.sessionManager.session();
  credentials.linkIdentity = true;
  helpers::HTTPRequest grant = request("token", {{"grant_type", "id_token"}});
  grant.headers.set(authorization(), "Bearer " + current.accessToken);
  grant.body = dependencies.configuration.encoder->encode(credentials);
  Session session = dependencies.api.execute(std::move(grant))
                        .decoded<Session>(*dependencies.configuration.decoder);
  adopt(session, AuthChangeEvent::userUpdated);
  return session;
}

OAuthResponse AuthClient::getLinkIdentityURL(Provider provider, std::optional<std::string> scopes,
                                             std::optional<boost::urls::url> redirectTo,
                                             std::vector<URLQueryItem> queryParams) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  boost::urls::url url = getURLForProvider(
      detail::appendingPath(dependencies.configuration.url, "user/identities/authorize"), provider,
      scopes, redirectTo, queryParams, true);
  const auto answer =
      dependencies.api.authorizedExecute(helpers::HTTPRequest(std::move(url), HTTPMethod::get))
          .decoded<Response>(*dependencies.configuration.decoder);
  return OAuthResponse{provider, answer.url};
}

void AuthClient::linkIdentity(Provider provider, std::optional<std::string> scopes,
                              std::optional<boost::urls::url> redirectTo,
                              std::vector<URLQueryItem> queryParams,
                              const std::function<void(const boost::urls::url&)>& launchURL) const {
  const OAuthResponse link = getLinkIdentityURL(provider, std::move(scopes), std::move(redirectTo),
                                                std::move(queryParams));
  if (launchURL) {
    launchURL(link.url);
  } else {
    Dependencies::get(clientID_).urlOpener.open(link.url);
  }
}

void AuthClient::unlinkIdentity(const UserIdentity& identity) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest remove(
      detail::appendingPath(dependencies.configuration.url,
                            {"user", "identities", uppercaseString(identity.identityId)}),
      HTTPMethod::delete_);
  dependencies.api.authorizedExecute(std::move(remove));
}

}  // namespace voduzazi::auth
