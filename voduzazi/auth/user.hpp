// The user record of the authentication server and what hangs off it: linked identities,
// multi-factor factors, and the OAuth providers.
//
//   User user = authJSONDecoder()->decode<User>(body);      // throws DecodingError
//   if (user.isAnonymous) ...;
//   for (const Factor& factor : user.factors.value_or(std::vector<Factor>{})) ...;
//   std::string name{toString(Provider::linkedinOIDC)};     // "linkedin_oidc"
//   for (Provider provider : allCases<Provider>()) ...;      // "apple" first, "fly" last
//
// Plain values: copies are independent and may move between threads.
#pragma once

#include <array>
#include <boost/uuid/uuid.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/auth/raw_values.hpp"
#include "voduzazi/auth/record_coding.hpp"

namespace voduzazi::auth {

using UUID = boost::uuids::uuid;

enum class FactorStatus { verified, unverified };
template <>
struct RawValues<FactorStatus> {
  static constexpr std::array<std::string_view, 2> values{"verified", "unverified"};
};

// The OAuth providers, in the server's order.
enum class Provider {
  apple,
  azure,
  bitbucket,
  discord,
  email,
  facebook,
  figma,
  github,
  gitlab,
  google,
  kakao,
  keycloak,
  linkedin,
  linkedinOIDC,
  notion,
  slack,
  slackOIDC,
  spotify,
  twitch,
  twitter,
  workos,
  zoom,
  fly
};
template <>
struct RawValues<Provider> {
  static constexpr std::array<std::string_view, 23> values{
      "apple",    "azure",         "bitbucket", "discord", "email",      "facebook",
      "figma",    "github",        "gitlab",    "google",  "kakao",      "keycloak",
      "linkedin", "linkedin_oidc", "notion",    "slack",   "slack_oidc", "spotify",
      "twitch",   "twitter",       "workos",    "zoom",    "fly"};
};

// One multi-factor factor; every field but friendlyName is required on decoding.
struct Factor {
  std::string id{};
  std::optional<std::string> friendlyName{};
  std::string factorType;  // "totp" or "phone" for the factors this library enrols
  FactorStatus status = FactorStatus::unverified;
  Date createdAt{};
  Date updatedAt{};

  bool operator==(const Factor&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static Factor fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                         const CodingPath& path = {});
};

// One sign-in identity linked to a user. identityId is the all-zero UUID when the server sends
// none, and is then written back as that UUID.
struct UserIdentity {
  std::string id{};
  UUID identityId{};
  UUID userId{};
  std::optional<JSONObject> identityData{};
  std::string provider;  // a plain string, not a Provider
  std::optional<Date> createdAt{};
  std::optional<Date> lastSignInAt{};
  std::optional<Date> updatedAt{};

  bool operator==(const UserIdentity&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static UserIdentity fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                               const CodingPath& path = {});
};

// The server's user record. Absent metadata decodes as empty objects and an absent or null
// "is_anonymous" as false; both are always written back.
struct User {
  UUID id{};
  JSONObject appMetadata{};
  JSONObject userMetadata{};
  std::string aud{};
  std::optional<Date> confirmationSentAt{};
  std::optional<Date> recoverySentAt{};
  std::optional<Date> emailChangeSentAt{};
  std::optional<std::string> newEmail{};
  std::optional<Date> invitedAt{};
  std::optional<std::string> actionLink{};
  std::optional<std::string> email{};
  std::optional<std::string> phone{};
  Date createdAt{};
  std::optional<Date> confirmedAt{};
  std::optional<Date> emailConfirmedAt{};
  std::optional<Date> phoneConfirmedAt{};
  std::optional<Date> lastSignInAt{};
  std::optional<std::string> role{};
  Date updatedAt{};
  std::optional<std::vector<UserIdentity>> identities{};
  bool isAnonymous = false;
  std::optional<std::vector<Factor>> factors{};

  bool operator==(const User&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static User fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                       const CodingPath& path = {});
};

// The upper-case text form of a user id, as the app writes it into rows and filters.
std::string uppercaseString(const UUID& id);

}  // namespace voduzazi::auth
