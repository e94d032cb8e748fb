// std::hash for the auth records, consistent with their ==: records that compare equal hash
// equally, so they can key unordered containers.
//
//   std::unordered_set<voduzazi::auth::Factor> seen;
//   seen.insert(factor);
//   std::size_t h = std::hash<voduzazi::auth::Session>()(session);
//
// Fields are fed in declaration order; an optional as a presence flag and its value, a list as
// its length and its elements. Hashes are for this process only: never store or send them.
#pragma once

#include <cstddef>

#include "voduzazi/auth/mfa_records.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user.hpp"
#include "voduzazi/auth/user_attributes.hpp"

#define VODUZAZI_AUTH_HASH(Record)                              \
  template <>                                                   \
  struct std::hash<Record> {                                    \
    std::size_t operator()(const Record& value) const noexcept; \
  }

VODUZAZI_AUTH_HASH(voduzazi::auth::WeakPassword);
VODUZAZI_AUTH_HASH(voduzazi::auth::Factor);
VODUZAZI_AUTH_HASH(voduzazi::auth::UserIdentity);
VODUZAZI_AUTH_HASH(voduzazi::auth::User);
VODUZAZI_AUTH_HASH(voduzazi::auth::Session);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMetaSecurity);
VODUZAZI_AUTH_HASH(voduzazi::auth::UserCredentials);
VODUZAZI_AUTH_HASH(voduzazi::auth::SignUpRequest);
VODUZAZI_AUTH_HASH(voduzazi::auth::OTPParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::VerifyEmailOTPParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::VerifyMobileOTPParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::VerifyTokenHashParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::VerifyOTPParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::RecoverParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::OpenIDConnectCredentials);
VODUZAZI_AUTH_HASH(voduzazi::auth::ResendEmailParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::ResendMobileParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::ResendMobileResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::SignInWithSSORequest);
VODUZAZI_AUTH_HASH(voduzazi::auth::SSOResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::OAuthResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::UserAttributes);
VODUZAZI_AUTH_HASH(voduzazi::auth::AdminUserAttributes);
VODUZAZI_AUTH_HASH(voduzazi::auth::DeleteUserRequest);
VODUZAZI_AUTH_HASH(voduzazi::auth::PageParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::ListUsersPaginatedResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFATotpEnrollParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAPhoneEnrollParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAEnrollParamsType);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAEnrollResponse::TOTP);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAEnrollResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAChallengeParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAVerifyParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAUnenrollParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::MFAChallengeAndVerifyParams);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAChallengeResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAUnenrollResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAListFactorsResponse);
VODUZAZI_AUTH_HASH(voduzazi::auth::AMREntry);
VODUZAZI_AUTH_HASH(voduzazi::auth::AuthMFAGetAuthenticatorAssuranceLevelResponse);

#undef VODUZAZI_AUTH_HASH
