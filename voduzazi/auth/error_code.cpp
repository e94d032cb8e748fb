#include "voduzazi/auth/error_code.hpp"

namespace voduzazi::auth {

ErrorCode ErrorCode::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                              const CodingPath& path) {
  return ErrorCode(decodeValue<std::string>(json, decoder, path));
}

const ErrorCode ErrorCode::unknown{"unknown"};
const ErrorCode ErrorCode::unexpectedFailure{"unexpected_failure"};
const ErrorCode ErrorCode::validationFailed{"validation_failed"};
const ErrorCode ErrorCode::badJSON{"bad_json"};
const ErrorCode ErrorCode::emailExists{"email_exists"};
const ErrorCode ErrorCode::phoneExists{"phone_exists"};
const ErrorCode ErrorCode::badJWT{"bad_jwt"};
const ErrorCode ErrorCode::notAdmin{"not_admin"};
const ErrorCode ErrorCode::noAuthorization{"no_authorization"};
const ErrorCode ErrorCode::userNotFound{"user_not_found"};
const ErrorCode ErrorCode::sessionNotFound{"session_not_found"};
const ErrorCode ErrorCode::sessionExpired{"session_expired"};
const ErrorCode ErrorCode::refreshTokenNotFound{"refresh_token_not_found"};
const ErrorCode ErrorCode::refreshTokenAlreadyUsed{"refresh_token_already_used"};
const ErrorCode ErrorCode::flowStateNotFound{"flow_state_not_found"};
const ErrorCode ErrorCode::flowStateExpired{"flow_state_expired"};
const ErrorCode ErrorCode::signupDisabled{"signup_disabled"};
const ErrorCode ErrorCode::userBanned{"user_banned"};
const ErrorCode ErrorCode::providerEmailNeedsVerification{"provider_email_needs_verification"};
const ErrorCode ErrorCode::inviteNotFound{"invite_not_found"};
const ErrorCode ErrorCode::badOAuthState{"bad_oauth_state"};
const ErrorCode ErrorCode::badOAuthCallback{"bad_oauth_callback"};
const ErrorCode ErrorCode::oauthProviderNotSupported{"oauth_provider_not_supported"};
const ErrorCode ErrorCode::unexpectedAudience{"unexpected_audience"};
const ErrorCode ErrorCode::singleIdentityNotDeletable{"single_identity_not_deletable"};
const ErrorCode ErrorCode::emailConflictIdentityNotDeletable{
    "email_conflict_identity_not_deletable"};
const ErrorCode ErrorCode::identityAlreadyExists{"identity_already_exists"};
const ErrorCode ErrorCode::emailProviderDisabled{"email_provider_disabled"};
const ErrorCode ErrorCode::phoneProviderDisabled{"phone_provider_disabled"};
const ErrorCode ErrorCode::tooManyEnrolledMFAFactors{"too_many_enrolled_mfa_factors"};
const ErrorCode ErrorCode::mfaFactorNameConflict{"mfa_factor_name_conflict"};
const ErrorCode ErrorCode::mfaFactorNotFound{"mfa_factor_not_found"};
const ErrorCode ErrorCode::mfaIPAddressMismatch{"mfa_ip_address_mismatch"};
const ErrorCode ErrorCode::mfaChallengeExpired{"mfa_challenge_expired"};
const ErrorCode ErrorCode::mfaVerificationFailed{"mfa_verification_failed"};
const ErrorCode ErrorCode::mfaVerificationRejected{"mfa_verification_rejected"};
const ErrorCode ErrorCode::insufficientAAL{"insufficient_aal"};
const ErrorCode ErrorCode::captchaFailed{"captcha_failed"};
const ErrorCode ErrorCode::samlProviderDisabled{"saml_provider_disabled"};
const ErrorCode ErrorCode::manualLinkingDisabled{"manual_linking_disabled"};
const ErrorCode ErrorCode::smsSendFailed{"sms_send_failed"};
const ErrorCode ErrorCode::emailNotConfirmed{"email_not_confirmed"};
const ErrorCode ErrorCode::phoneNotConfirmed{"phone_not_confirmed"};
const ErrorCode ErrorCode::samlRelayStateNotFound{"saml_relay_state_not_found"};
const ErrorCode ErrorCode::samlRelayStateExpired{"saml_relay_state_expired"};
const ErrorCode ErrorCode::samlIdPNotFound{"saml_idp_not_found"};
const ErrorCode ErrorCode::samlAssertionNoUserID{"saml_assertion_no_user_id"};
const ErrorCode ErrorCode::samlAssertionNoEmail{"saml_assertion_no_email"};
const ErrorCode ErrorCode::userAlreadyExists{"user_already_exists"};
const ErrorCode ErrorCode::ssoProviderNotFound{"sso_provider_not_found"};
const ErrorCode ErrorCode::samlMetadataFetchFailed{"saml_metadata_fetch_failed"};
const ErrorCode ErrorCode::samlIdPAlreadyExists{"saml_idp_already_exists"};
const ErrorCode ErrorCode::ssoDomainAlreadyExists{"sso_domain_already_exists"};
const ErrorCode ErrorCode::samlEntityIDMismatch{"saml_entity_id_mismatch"};
const ErrorCode ErrorCode::conflict{"conflict"};
const ErrorCode ErrorCode::providerDisabled{"provider_disabled"};
const ErrorCode ErrorCode::userSSOManaged{"user_sso_managed"};
const ErrorCode ErrorCode::reauthenticationNeeded{"reauthentication_needed"};
const ErrorCode ErrorCode::samePassword{"same_password"};
const ErrorCode ErrorCode::reauthenticationNotValid{"reauthentication_not_valid"};
const ErrorCode ErrorCode::otpExpired{"otp_expired"};
const ErrorCode ErrorCode::otpDisabled{"otp_disabled"};
const ErrorCode ErrorCode::identityNotFound{"identity_not_found"};
const ErrorCode ErrorCode::weakPassword{"weak_password"};
const ErrorCode ErrorCode::overRequestRateLimit{"over_request_rate_limit"};
const ErrorCode ErrorCode::overEmailSendRateLimit{"over_email_send_rate_limit"};
const ErrorCode ErrorCode::overSMSSendRateLimit{"over_sms_send_rate_limit"};
const ErrorCode ErrorCode::badCodeVerifier{"bad_code_verifier"};
const ErrorCode ErrorCode::anonymousProviderDisabled{"anonymous_provider_disabled"};
const ErrorCode ErrorCode::hookTimeout{"hook_timeout"};
const ErrorCode ErrorCode::hookTimeoutAfterRetry{"hook_timeout_after_retry"};
const ErrorCode ErrorCode::hookPayloadOverSizeLimit{"hook_payload_over_size_limit"};
const ErrorCode ErrorCode::hookPayloadInvalidContentType{"hook_payload_invalid_content_type"};
const ErrorCode ErrorCode::requestTimeout{"request_timeout"};
const ErrorCode ErrorCode::mfaPhoneEnrollDisabled{"mfa_phone_enroll_not_enabled"};
const ErrorCode ErrorCode::mfaPhoneVerifyDisabled{"mfa_phone_verify_not_enabled"};
const ErrorCode ErrorCode::mfaTOTPEnrollDisabled{"mfa_totp_enroll_not_enabled"};
const ErrorCode ErrorCode::mfaTOTPVerifyDisabled{"mfa_totp_verify_not_enabled"};
const ErrorCode ErrorCode::mfaWebAuthnEnrollDisabled{"mfa_webauthn_enroll_not_enabled"};
const ErrorCode ErrorCode::mfaWebAuthnVerifyDisabled{"mfa_webauthn_verify_not_enabled"};
const ErrorCode ErrorCode::mfaVerifiedFactorExists{"mfa_verified_factor_exists"};
const ErrorCode ErrorCode::invalidCredentials{"invalid_credentials"};
const ErrorCode ErrorCode::emailAddressNotAuthorized{"email_address_not_authorized"};
}  // namespace voduzazi::auth
