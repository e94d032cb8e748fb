#include "voduzazi/auth/record_hashing.hpp"

#include <boost/uuid/uuid_hash.hpp>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace voduzazi::auth {
namespace {

class Hasher {
 public:
  template <class... Fields>
  Hasher& add(const Fields&... fields) {
    (addOne(fields), ...);
    return *this;
  }
  std::size_t value() const { return seed_; }

 private:
  void mix(std::size_t value) {
    seed_ ^= value + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2);
  }

  template <class T>
  void addOne(const T& field) {
    if constexpr (std::is_same_v<T, Date>) {
      mix(std::hash<Date::rep>()(field.time_since_epoch().count()));
    } else if constexpr (std::is_same_v<T, UUID>) {
      mix(boost::uuids::hash_value(field));
    } else if constexpr (std::is_same_v<T, JSONObject>) {
      mix(field.size());
      for (const auto& [key, value] : field) add(key, value);
    } else {
      mix(std::hash<T>()(field));
    }
  }
  template <class T>
  void addOne(const std::optional<T>& field) {
    mix(field ? 1 : 0);
    if (field) addOne(*field);
  }
  template <class T>
  void addOne(const std::vector<T>& field) {
    mix(field.size());
    for (const T& element : field) addOne(element);
  }
  template <class... Cases>
  void addOne(const std::variant<Cases...>& field) {
    mix(field.index());
    std::visit([this](const auto& value) { addOne(value); }, field);
  }

  std::size_t seed_ = 0;
};

template <class... Fields>
std::size_t hashOf(const Fields&... fields) {
  return Hasher().add(fields...).value();
}

}  // namespace
}  // namespace voduzazi::auth

using namespace voduzazi::auth;
using voduzazi::auth::hashOf;

// A record's hash over the fields its == compares (a subset would do; all keeps collisions low).
#define VODUZAZI_AUTH_HASH(Record, ...)                                       \
  std::size_t std::hash<Record>::operator()(const Record& v) const noexcept { \
    return hashOf(__VA_ARGS__);                                               \
  }

VODUZAZI_AUTH_HASH(WeakPassword, v.reasons)
VODUZAZI_AUTH_HASH(Factor, v.id, v.friendlyName, v.factorType, v.status, v.createdAt, v.updatedAt)
VODUZAZI_AUTH_HASH(UserIdentity, v.id, v.identityId, v.userId, v.identityData, v.provider,
                   v.createdAt, v.lastSignInAt, v.updatedAt)
VODUZAZI_AUTH_HASH(User, v.id, v.appMetadata, v.userMetadata, v.aud, v.confirmationSentAt,
                   v.recoverySentAt, v.emailChangeSentAt, v.newEmail, v.invitedAt, v.actionLink,
                   v.email, v.phone, v.createdAt, v.confirmedAt, v.emailConfirmedAt,
                   v.phoneConfirmedAt, v.lastSignInAt, v.role, v.updatedAt, v.identities, v.factors)
VODUZAZI_AUTH_HASH(Session, v.providerToken, v.providerRefreshToken, v.accessToken, v.tokenType,
                   v.expiresIn, v.expiresAt, v.refreshToken, v.weakPassword, v.user)
VODUZAZI_AUTH_HASH(AuthResponse, v.session() != nullptr,
                   v.session() ? std::hash<Session>()(*v.session()) : std::hash<User>()(v.user()))
VODUZAZI_AUTH_HASH(AuthMetaSecurity, v.captchaToken)
VODUZAZI_AUTH_HASH(UserCredentials, v.email, v.password, v.phone, v.refreshToken,
                   v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(SignUpRequest, v.email, v.password, v.phone, v.channel, v.data,
                   v.vuvereMetaSecurity, v.codeChallenge, v.codeChallengeMethod)
VODUZAZI_AUTH_HASH(OTPParams, v.email, v.phone, v.channel, v.data, v.vuvereMetaSecurity,
                   v.codeChallenge, v.codeChallengeMethod)
VODUZAZI_AUTH_HASH(VerifyEmailOTPParams, v.email, v.token, v.type, v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(VerifyMobileOTPParams, v.phone, v.token, v.type, v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(VerifyTokenHashParams, v.tokenHash, v.type)
VODUZAZI_AUTH_HASH(VerifyOTPParams, v.value)
VODUZAZI_AUTH_HASH(RecoverParams, v.email, v.vuvereMetaSecurity, v.codeChallenge,
                   v.codeChallengeMethod)
VODUZAZI_AUTH_HASH(OpenIDConnectCredentials, v.idToken, v.accessToken, v.nonce,
                   v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(ResendEmailParams, v.email, v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(ResendMobileParams, v.phone, v.vuvereMetaSecurity)
VODUZAZI_AUTH_HASH(ResendMobileResponse, v.messageId)
VODUZAZI_AUTH_HASH(SignInWithSSORequest, v.providerId, v.domain, v.redirectTo, v.vuvereMetaSecurity,
                   v.codeChallenge, v.codeChallengeMethod)
VODUZAZI_AUTH_HASH(SSOResponse, v.url)
VODUZAZI_AUTH_HASH(OAuthResponse, v.url)
VODUZAZI_AUTH_HASH(UserAttributes, v.email, v.phone, v.password, v.nonce, v.emailChangeToken,
                   v.data, v.codeChallenge, v.codeChallengeMethod)
VODUZAZI_AUTH_HASH(AdminUserAttributes, v.appMetadata, v.banDuration, v.email, v.emailConfirm, v.id,
                   v.nonce, v.password, v.passwordHash, v.phone, v.phoneConfirm, v.role,
                   v.userMetadata)
VODUZAZI_AUTH_HASH(DeleteUserRequest, v.shouldSoftDelete)
VODUZAZI_AUTH_HASH(PageParams, v.page, v.perPage)
VODUZAZI_AUTH_HASH(ListUsersPaginatedResponse, v.users, v.aud, v.nextPage, v.lastPage, v.total)
VODUZAZI_AUTH_HASH(MFATotpEnrollParams, v.issuer, v.friendlyName)
VODUZAZI_AUTH_HASH(MFAPhoneEnrollParams, v.friendlyName, v.phone)
VODUZAZI_AUTH_HASH(MFAEnrollParamsType, v.value)
VODUZAZI_AUTH_HASH(AuthMFAEnrollResponse::TOTP, v.qrCode, v.secret, v.uri)
VODUZAZI_AUTH_HASH(AuthMFAEnrollResponse, v.id, v.type, v.totp, v.friendlyName, v.phone)
VODUZAZI_AUTH_HASH(MFAChallengeParams, v.factorId, v.channel)
VODUZAZI_AUTH_HASH(MFAVerifyParams, v.factorId, v.challengeId, v.code)
VODUZAZI_AUTH_HASH(MFAUnenrollParams, v.factorId)
VODUZAZI_AUTH_HASH(MFAChallengeAndVerifyParams, v.factorId, v.code)
VODUZAZI_AUTH_HASH(AuthMFAChallengeResponse, v.id, v.type, v.expiresAt)
VODUZAZI_AUTH_HASH(AuthMFAUnenrollResponse, v.factorId)
VODUZAZI_AUTH_HASH(AuthMFAListFactorsResponse, v.all, v.totp, v.phone)
VODUZAZI_AUTH_HASH(AMREntry, v.method)
VODUZAZI_AUTH_HASH(AuthMFAGetAuthenticatorAssuranceLevelResponse, v.currentLevel, v.nextLevel,
                   v.currentAuthenticationMethods)
