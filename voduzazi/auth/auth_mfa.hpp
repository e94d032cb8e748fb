// AuthMFA: the multi-factor operations of an auth client: enrol a TOTP or phone factor, challenge
// and verify it, remove it, and read the factors and assurance level of the current session.
//
//   AuthMFA mfa = client.mfa();
//   auto enrolled = mfa.enroll(MFAEnrollParamsType::totp("Tapwick", "laptop"));
//   Session session = mfa.challengeAndVerify({enrolled.id, codeFromTheAuthenticator});
//   auto level = mfa.getAuthenticatorAssuranceLevel();     // currentLevel "aal2"
//
// A plain value holding the client's id; copies may be used from any thread at once. Every
// server operation sends the session's bearer token and throws AuthError sessionMissing without a
// session. Factor ids are path segments of their own: "/", "?" and "#" are escaped, and an empty
// id, "." or ".." is refused with std::invalid_argument before anything is sent.
#pragma once

#include <cstdint>

#include "voduzazi/auth/mfa_records.hpp"
#include "voduzazi/auth/session.hpp"

namespace voduzazi::auth {

struct AuthMFA {
  std::int64_t clientID = 0;

  // Enrols a factor; the session is not changed.
  AuthMFAEnrollResponse enroll(const MFAEnrollParamsType& params) const;
  // A challenge on the factor; the body is {"channel": ...} only when a channel is given.
  AuthMFAChallengeResponse challenge(const MFAChallengeParams& params) const;
  // Verifies a code: stores the session the server answers and emits MFA_CHALLENGE_VERIFIED.
  Session verify(const MFAVerifyParams& params) const;
  AuthMFAUnenrollResponse unenroll(const MFAUnenrollParams& params) const;
  Session challengeAndVerify(const MFAChallengeAndVerifyParams& params) const;

  // From the current session alone (which may be refreshed first): every factor of its user and
  // the verified TOTP and phone factors.
  AuthMFAListFactorsResponse listFactors() const;
  // The "aal" and "amr" claims of the access token and the level a verified factor allows; all
  // empty without a session.
  AuthMFAGetAuthenticatorAssuranceLevelResponse getAuthenticatorAssuranceLevel() const;
};

}  // namespace voduzazi::auth
