// The signed-in session, the answer of sign-up and verification (a session or a bare user), the
// authentication events and the flow type.
//
//   Session session = authJSONDecoder()->decode<Session>(body);   // throws DecodingError
//   if (session.isExpired()) refresh();                           // expires within 30 s
//   AuthResponse response = authJSONDecoder()->decode<AuthResponse>(body);
//   const User& user = response.user();
//
// Plain values: copies are independent and may move between threads. Their text form masks
// every token.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/auth/user.hpp"

namespace voduzazi::auth {

enum class AuthChangeEvent {
  initialSession,
  passwordRecovery,
  signedIn,
  signedOut,
  tokenRefreshed,
  userUpdated,
  userDeleted,
  mfaChallengeVerified
};
template <>
struct RawValues<AuthChangeEvent> {
  static constexpr std::array<std::string_view, 8> values{
      "INITIAL_SESSION", "PASSWORD_RECOVERY", "SIGNED_IN",    "SIGNED_OUT",
      "TOKEN_REFRESHED", "USER_UPDATED",      "USER_DELETED", "MFA_CHALLENGE_VERIFIED"};
};

enum class AuthFlowType { implicit, pkce };

// The server's complaint about a weak password.
struct WeakPassword {
  std::vector<std::string> reasons{};

  bool operator==(const WeakPassword&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static WeakPassword fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                               const CodingPath& path = {});
};

struct Session {
  std::optional<std::string> providerToken{};
  std::optional<std::string> providerRefreshToken{};
  std::string accessToken{};
  std::string tokenType{};
  double expiresIn = 0;  // seconds
  double expiresAt = 0;  // seconds since 1970-01-01T00:00:00Z
  std::string refreshToken{};
  std::optional<WeakPassword> weakPassword{};
  User user;

  // True when the access token expires within 30 seconds of `now` (exactly 30 is not expired).
  bool isExpired(Date now) const;
  bool isExpired() const;

  bool operator==(const Session&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  // "expires_in" and "expires_at" are both required; neither is derived from the other.
  static Session fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                          const CodingPath& path = {});
};

// A session when the server signed the user in, else the bare user. Coded as the payload itself.
class AuthResponse {
 public:
  AuthResponse(Session session) : value_(std::move(session)) {}
  AuthResponse(User user) : value_(std::move(user)) {}

  // The session, or nothing for a bare user.
  const Session* session() const { return std::get_if<Session>(&value_); }
  // The session's user, or the bare user.
  const User& user() const;

  bool operator==(const AuthResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  // Tries a session, then a user; else DecodingError (dataCorrupted) "Data could not be decoded
  // as any of the expected types (Session, User)."
  static AuthResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                               const CodingPath& path = {});

 private:
  std::variant<Session, User> value_;
};

// The text form of an event with its session, as listeners' log lines show it; tokens masked.
std::string description(AuthChangeEvent event, const std::optional<Session>& session);

}  // namespace voduzazi::auth
