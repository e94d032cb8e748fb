// TOTP factors: enrolment, challenge, verification (which raises the session to "aal2") and
// removal.
#include "local_backend/auth_service.hpp"
#include "local_backend/auth_store.hpp"
#include "local_backend/detail/auth_common.hpp"
#include "local_backend/detail/crypto.hpp"
#include "local_backend/totp.hpp"

namespace local_backend {

using namespace detail;
using boost::json::object;

namespace {

constexpr std::int64_t kChallengeLifetimeSeconds = 300;
constexpr std::size_t kMaxFactors = 10;

AuthFailure factorNotFound() {
  return AuthFailure{http::status::not_found, "mfa_factor_not_found", "Factor not found"};
}

auth_store::FactorRecord requireFactor(const Connection& c, const Caller& caller,
                                       const std::string& factorId) {
  auto factor = auth_store::findFactor(c, caller.userId, lowerCase(factorId));
  if (!factor) throw factorNotFound();
  return std::move(*factor);
}

}  // namespace

Response AuthService::enrollFactor(const Request& request) {
  const Caller caller = requireUser(request, tokens_);
  const object body = parseBody(request);
  const auto type = stringField(body, "factor_type");
  if (type && *type == "phone") {
    throw AuthFailure{http::status::unprocessable_entity, "mfa_phone_enroll_not_enabled",
                      "MFA enroll is disabled for phone"};
  }
  if (!type || *type != "totp") throw validationFailed("factor_type must be \"totp\"");
  const auto friendlyName = stringField(body, "friendly_name");
  const std::string issuer = stringField(body, "issuer").value_or("voduzazi-local");
  const std::string now = nowText();
  auth_store::FactorRecord factor{
      randomUuid(), caller.userId, friendlyName, "totp", "unverified", totp::newSecret(), 0, now,
      now};
  const std::string account = database_.transaction([&](Connection& c) {
    const auto user = requireLiveUser(c, caller);
    const auto existing = auth_store::factorsOf(c, caller.userId);
    if (existing.size() >= kMaxFactors) {
      throw AuthFailure{http::status::unprocessable_entity, "too_many_enrolled_mfa_factors",
                        "Maximum number of enrolled factors reached"};
    }
    for (const auto& other : existing) {
      if (friendlyName && other.friendlyName == friendlyName) {
        throw AuthFailure{http::status::unprocessable_entity, "mfa_factor_name_conflict",
                          "A factor with this friendly name already exists"};
      }
    }
    auth_store::insertFactor(c, factor);
    return user.email.empty() ? user.phone.value_or(user.id) : user.email;
  });
  const std::string uri = totp::provisioningURI(factor.secret, issuer, account);
  object answer{{"id", factor.id},
                {"type", "totp"},
                {"totp", object{{"qr_code", "data:text/plain;charset=utf-8," + uri},
                                {"secret", factor.secret},
                                {"uri", uri}}}};
  if (friendlyName) answer["friendly_name"] = *friendlyName;
  return jsonResponse(request, http::status::ok, answer);
}

Response AuthService::challengeFactor(const Request& request, const std::string& factorId) {
  const Caller caller = requireUser(request, tokens_);
  const auto factor = database_.transaction([&](Connection& c) {
    requireLiveUser(c, caller);
    return requireFactor(c, caller, factorId);
  });
  const std::string id = randomUuid();
  const std::int64_t expiresAt = unixNow() + kChallengeLifetimeSeconds;
  {
    std::lock_guard lock(challengesMutex_);
    const std::int64_t now = unixNow();
    std::erase_if(challenges_, [now](const auto& item) { return item.second.expiresAt <= now; });
    challenges_[id] = Challenge{factor.id, caller.userId, expiresAt};
  }
  return jsonResponse(request, http::status::ok,
                      object{{"id", id}, {"type", "totp"}, {"expires_at", expiresAt}});
}

Response AuthService::verifyFactor(const Request& request, const std::string& factorId) {
  const Caller caller = requireUser(request, tokens_);
  const object body = parseBody(request);
  const auto challengeId = stringField(body, "challenge_id");
  const auto code = stringField(body, "code");
  if (!challengeId || !code) throw validationFailed("challenge_id and code are required");
  const std::int64_t now = unixNow();
  {
    std::lock_guard lock(challengesMutex_);
    const auto it = challenges_.find(lowerCase(*challengeId));
    if (it == challenges_.end() || it->second.userId != caller.userId ||
        it->second.factorId != lowerCase(factorId) || it->second.expiresAt <= now) {
      throw AuthFailure{http::status::unprocessable_entity, "mfa_challenge_expired",
                        "The challenge does not exist or has expired"};
    }
    challenges_.erase(it);  // a challenge is answered once
  }
  return database_.transaction([&](Connection& c) {
    auto user = requireLiveUser(c, caller);
    auto factor = requireFactor(c, caller, factorId);
    const auto step = totp::matchingStep(factor.secret, *code, now);
    // A step at or before the last accepted one is a code seen before: refused.
    if (!step || *step <= factor.lastStep) {
      throw AuthFailure{http::status::unprocessable_entity, "mfa_verification_failed",
                        "Invalid TOTP code entered"};
    }
    factor.status = "verified";
    factor.lastStep = *step;
    factor.updatedAt = nowText();
    auth_store::updateFactor(c, factor);
    auth_store::markSessionVerified(c, caller.sessionId, now);
    auto session = auth_store::findSession(c, caller.sessionId);
    return jsonResponse(request, http::status::ok,
                        sessionBody(tokens_, continueSession(c, std::move(user), *session)));
  });
}

Response AuthService::unenrollFactor(const Request& request, const std::string& factorId) {
  const Caller caller = requireUser(request, tokens_);
  const std::string id = database_.transaction([&](Connection& c) {
    requireLiveUser(c, caller);
    const auto factor = requireFactor(c, caller, factorId);
    const auto session = auth_store::findSession(c, caller.sessionId);
    // Removing a verified factor takes a session that proved it.
    if (factor.status == "verified" && session->aal != "aal2") {
      throw AuthFailure{http::status::forbidden, "insufficient_aal",
                        "AAL2 required to unenroll verified factor"};
    }
    auth_store::deleteFactor(c, caller.userId, factor.id);
    return factor.id;
  });
  return jsonResponse(request, http::status::ok, object{{"factor_id", id}});
}

}  // namespace local_backend
