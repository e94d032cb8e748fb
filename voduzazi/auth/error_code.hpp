// ErrorCode: the open set of error codes the authentication server sends, with a constant for
// each known one. Any text is a valid code.
//
//   if (error.errorCode() == ErrorCode::sessionNotFound) signOutLocally();
//   ErrorCode code("some_new_code");     // unknown codes keep their text
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <string>

#include "voduzazi/auth/record_coding.hpp"

namespace voduzazi::auth {

struct ErrorCode {
  std::string rawValue{};

  ErrorCode() = default;
  explicit ErrorCode(std::string rawValue) : rawValue(std::move(rawValue)) {}

  // Compared case-sensitively by raw value.
  bool operator==(const ErrorCode&) const = default;

  // Decoded from a single JSON string; there is no encoding of its own.
  static ErrorCode fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path = {});

  static const ErrorCode unknown;
  static const ErrorCode unexpectedFailure;
  static const ErrorCode validationFailed;
  static const ErrorCode badJSON;
  static const ErrorCode emailExists;
  static const ErrorCode phoneExists;
  static const ErrorCode badJWT;
  static const ErrorCode notAdmin;
  static const ErrorCode noAuthorization;
  static const ErrorCode userNotFound;
  static const ErrorCode sessionNotFound;
  static const ErrorCode sessionExpired;
  static const ErrorCode refreshTokenNotFound;
  static const ErrorCode refreshTokenAlreadyUsed;
  static const ErrorCode flowStateNotFound;
  static const ErrorCode flowStateExpired;
  static const ErrorCode signupDisabled;
  static const ErrorCode userBanned;
  static const ErrorCode providerEmailNeedsVerification;
  static const ErrorCode inviteNotFound;
  static const ErrorCode badOAuthState;
  static const ErrorCode badOAuthCallback;
  static const ErrorCode oauthProviderNotSupported;
  static const ErrorCode unexpectedAudience;
  static const ErrorCode singleIdentityNotDeletable;
  static const ErrorCode emailConflictIdentityNotDeletable;
  static const ErrorCode identityAlreadyExists;
  static const ErrorCode emailProviderDisabled;
  static const ErrorCode phoneProviderDisabled;
  static const ErrorCode tooManyEnrolledMFAFactors;
  static const ErrorCode mfaFactorNameConflict;
  static const ErrorCode mfaFactorNotFound;
  static const ErrorCode mfaIPAddressMismatch;
  static const ErrorCode mfaChallengeExpired;
  static const ErrorCode mfaVerificationFailed;
  static const ErrorCode mfaVerificationRejected;
  static const ErrorCode insufficientAAL;
  static const ErrorCode captchaFailed;
  static const ErrorCode samlProviderDisabled;
  static const ErrorCode manualLinkingDisabled;
  static const ErrorCode smsSendFailed;
  static const ErrorCode emailNotConfirmed;
  static const ErrorCode phoneNotConfirmed;
  static const ErrorCode samlRelayStateNotFound;
  static const ErrorCode samlRelayStateExpired;
  static const ErrorCode samlIdPNotFound;
  static const ErrorCode samlAssertionNoUserID;
  static const ErrorCode samlAssertionNoEmail;
  static const ErrorCode userAlreadyExists;
  static const ErrorCode ssoProviderNotFound;
  static const ErrorCode samlMetadataFetchFailed;
  static const ErrorCode samlIdPAlreadyExists;
  static const ErrorCode ssoDomainAlreadyExists;
  static const ErrorCode samlEntityIDMismatch;
  static const ErrorCode conflict;
  static const ErrorCode providerDisabled;
  static const ErrorCode userSSOManaged;
  static const ErrorCode reauthenticationNeeded;
  static const ErrorCode samePassword;
  static const ErrorCode reauthenticationNotValid;
  static const ErrorCode otpExpired;
  static const ErrorCode otpDisabled;
  static const ErrorCode identityNotFound;
  static const ErrorCode weakPassword;
  static const ErrorCode overRequestRateLimit;
  static const ErrorCode overEmailSendRateLimit;
  static const ErrorCode overSMSSendRateLimit;
  static const ErrorCode badCodeVerifier;
  static const ErrorCode anonymousProviderDisabled;
  static const ErrorCode hookTimeout;
  static const ErrorCode hookTimeoutAfterRetry;
  static const ErrorCode hookPayloadOverSizeLimit;
  static const ErrorCode hookPayloadInvalidContentType;
  static const ErrorCode requestTimeout;
  static const ErrorCode mfaPhoneEnrollDisabled;
  static const ErrorCode mfaPhoneVerifyDisabled;
  static const ErrorCode mfaTOTPEnrollDisabled;
  static const ErrorCode mfaTOTPVerifyDisabled;
  static const ErrorCode mfaWebAuthnEnrollDisabled;
  static const ErrorCode mfaWebAuthnVerifyDisabled;
  static const ErrorCode mfaVerifiedFactorExists;
  static const ErrorCode invalidCredentials;
  static const ErrorCode emailAddressNotAuthorized;
};

}  // namespace voduzazi::auth

template <>
struct std::hash<voduzazi::auth::ErrorCode> {
  std::size_t operator()(const voduzazi::auth::ErrorCode& code) const {
    return std::hash<std::string>()(code.rawValue);
  }
};
