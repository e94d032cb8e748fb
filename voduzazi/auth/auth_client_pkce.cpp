// The PKCE preparation of the browser flows.
#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"

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
  if (params.contains("code") || params.contains("error_description") ||
      params.contains("error")) {
    return true;
  }
  return params.contains("error_code") && verifier.has_value();
}

}  // namespace voduzazi::auth
