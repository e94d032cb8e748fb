// Web sign-in support: the PKCE preparation of the browser flows, the authorization URL of an
// identity provider and the identity-link endpoint's answer.
#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"
#include "voduzazi/auth/record_coding.hpp"

namespace voduzazi::auth {

PKCEPair AuthClient::prepareForPKCE() const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  if (dependencies.configuration.flowType != AuthFlowType::pkce) return {};
  const std::string verifier = dependencies.pkce.generateCodeVerifier();
  dependencies.codeVerifierStorage.set(verifier);
  std::string challenge = dependencies.pkce.generateCodeChallenge(verifier);
  const char* method = challenge == verifier ? "plain" : "s256";
  return {std::move(challenge), method};
}

bool AuthClient::isPKCEFlow(const std::map<std::string, std::string>& params) const {
  // Read first, whatever the parameters say.
  const std::optional<std::string> verifier =
      Dependencies::get(clientID_).codeVerifierStorage.get();
  if (params.empty()) return false;
  if (params.contains("code") || params.contains("error_description") || params.contains("error")) {
    return true;
  }
  return params.contains("error_code") && verifier.has_value();
}

}  // namespace voduzazi::auth

namespace voduzazi::auth {

namespace {

constexpr auto urlResponseFields = std::tuple{
    field("url", &AuthClient::Response::url),
};

}  // namespace

boost::urls::url AuthClient::getURLForProvider(const boost::urls::url& url, Provider provider,
                                               const std::optional<std::string>& scopes,
                                               const std::optional<boost::urls::url>& redirectTo,
                                               const std::vector<URLQueryItem>& queryParams,
                                               std::optional<bool> skipBrowserRedirect) const {
  std::vector<URLQueryItem> query{{"provider", std::string(toString(provider))}};
  if (scopes) query.push_back({"scopes", *scopes});
  const AuthClientConfiguration configuration = Dependencies::get(clientID_).configuration;
  if (const auto redirect = detail::effectiveRedirect(redirectTo, configuration)) {
    query.push_back({"redirect_to", std::string(redirect->buffer())});
  }
  const PKCEPair pkce = prepareForPKCE();
  if (pkce.codeChallenge) query.push_back({"code_challenge", *pkce.codeChallenge});
  if (pkce.codeChallengeMethod) {
    query.push_back({"code_challenge_method", *pkce.codeChallengeMethod});
  }
  if (skipBrowserRedirect) {
    query.push_back({"skip_http_redirect", *skipBrowserRedirect ? "true" : "false"});
  }
  query.insert(query.end(), queryParams.begin(), queryParams.end());
  boost::urls::url result = url;
  result.remove_query();  // a query already present is replaced
  appendQueryItems(result, query);
  return result;
}

boost::json::value AuthClient::Response::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, urlResponseFields);
}

AuthClient::Response AuthClient::Response::fromJSON(const boost::json::value& json,
                                                    const JSONDecoder& decoder,
                                                    const CodingPath& path) {
  return decodeFields(json, decoder, path, urlResponseFields);
}

}  // namespace voduzazi::auth
