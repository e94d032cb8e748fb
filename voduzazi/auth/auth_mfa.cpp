#include "voduzazi/auth/auth_mfa.hpp"

#include <boost/json/object.hpp>
#include <utility>

#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/helpers/jwt.hpp"

namespace voduzazi::auth {

namespace {

constexpr std::string_view kTotp = "totp";
constexpr std::string_view kPhone = "phone";

// Sends an authorized request to `segments` below the auth URL.
helpers::HTTPResponse send(const Dependencies& dependencies,
                           std::initializer_list<std::string_view> segments, HTTPMethod method,
                           std::optional<Data> body = std::nullopt) {
  helpers::HTTPRequest request(detail::appendingPath(dependencies.configuration.url, segments),
                               std::move(method));
  request.body = std::move(body);
  return dependencies.api.authorizedExecute(std::move(request));
}

std::vector<Factor> verifiedOfType(const std::vector<Factor>& factors, std::string_view type) {
  std::vector<Factor> matching;
  for (const Factor& factor : factors) {
    if (factor.factorType == type && factor.status == FactorStatus::verified) {
      matching.push_back(factor);
    }
  }
  return matching;
}

}  // namespace

AuthMFAEnrollResponse AuthMFA::enroll(const MFAEnrollParamsType& params) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  Data body = dependencies.configuration.encoder->encode(params);
  return send(dependencies, {"factors"}, HTTPMethod::post, std::move(body))
      .decoded<AuthMFAEnrollResponse>(*dependencies.configuration.decoder);
}

AuthMFAChallengeResponse AuthMFA::challenge(const MFAChallengeParams& params) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  std::optional<Data> body;
  if (params.channel) {
    body = dependencies.configuration.encoder->write(
        boost::json::object{{"channel", toString(*params.channel)}});
  }
  return send(dependencies, {"factors", params.factorId, "challenge"}, HTTPMethod::post,
              std::move(body))
      .decoded<AuthMFAChallengeResponse>(*dependencies.configuration.decoder);
}

Session AuthMFA::verify(const MFAVerifyParams& params) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  Data body = dependencies.configuration.encoder->encode(params);
  Session session =
      send(dependencies, {"factors", params.factorId, "verify"}, HTTPMethod::post, std::move(body))
          .decoded<Session>(*dependencies.configuration.decoder);
  dependencies.sessionManager.update(session);
  dependencies.eventEmitter.emit(AuthChangeEvent::mfaChallengeVerified, session);
  return session;
}

AuthMFAUnenrollResponse AuthMFA::unenroll(const MFAUnenrollParams& params) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  return send(dependencies, {"factors", params.factorId}, HTTPMethod::delete_)
      .decoded<AuthMFAUnenrollResponse>(*dependencies.configuration.decoder);
}

Session AuthMFA::challengeAndVerify(const MFAChallengeAndVerifyParams& params) const {
  const AuthMFAChallengeResponse challenged = challenge(MFAChallengeParams{params.factorId, {}});
  return verify(MFAVerifyParams{params.factorId, challenged.id, params.code});
}

AuthMFAListFactorsResponse AuthMFA::listFactors() const {
  const Session session = Dependencies::get(clientID).sessionManager.session();
  std::vector<Factor> all = session.user.factors.value_or(std::vector<Factor>{});
  auto totp = verifiedOfType(all, kTotp);
  auto phone = verifiedOfType(all, kPhone);
  return AuthMFAListFactorsResponse{std::move(all), std::move(totp), std::move(phone)};
}

AuthMFAGetAuthenticatorAssuranceLevelResponse AuthMFA::getAuthenticatorAssuranceLevel() const {
  Session session;
  try {
    session = Dependencies::get(clientID).sessionManager.session();
  } catch (const AuthError& error) {
    if (error != AuthError::sessionMissing()) throw;
    return {};
  }
  const std::optional<JSONObject> claims = JWT::decodePayload(session.accessToken);
  AuthMFAGetAuthenticatorAssuranceLevelResponse answer;
  if (claims) {
    if (const auto aal = claims->find("aal"); aal != claims->end() && aal->second.stringValue()) {
      answer.currentLevel = *aal->second.stringValue();
    }
    if (const auto amr = claims->find("amr"); amr != claims->end()) {
      if (const JSONArray* entries = amr->second.arrayValue()) {
        for (const AnyJSON& entry : *entries) {
          if (auto method = AMREntry::fromValue(entry)) {
            answer.currentAuthenticationMethods.push_back(std::move(*method));
          }
        }
      }
    }
  }
  const auto& factors = session.user.factors;
  const bool hasVerifiedFactor =
      factors && std::any_of(factors->begin(), factors->end(), [](const Factor& factor) {
        return factor.status == FactorStatus::verified;
      });
  answer.nextLevel = hasVerifiedFactor ? std::optional<std::string>("aal2") : answer.currentLevel;
  return answer;
}

}  // namespace voduzazi::auth
