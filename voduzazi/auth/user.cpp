#include "voduzazi/auth/user.hpp"

#include <algorithm>
#include <cctype>

namespace voduzazi::auth {
namespace {

constexpr auto factorFields = std::tuple{
    field("id", &Factor::id),
    field("friendlyName", &Factor::friendlyName),
    field("factorType", &Factor::factorType),
    field("status", &Factor::status),
    field("createdAt", &Factor::createdAt),
    field("updatedAt", &Factor::updatedAt),
};

// A missing identity id reads as the all-zero UUID.
constexpr auto identityFields = std::tuple{
    field("id", &UserIdentity::id),
    defaultedField("identityId", &UserIdentity::identityId),
    field("userId", &UserIdentity::userId),
    field("identityData", &UserIdentity::identityData),
    field("provider", &UserIdentity::provider),
    field("createdAt", &UserIdentity::createdAt),
    field("lastSignInAt", &UserIdentity::lastSignInAt),
    field("updatedAt", &UserIdentity::updatedAt),
};

constexpr auto userFields = std::tuple{
    field("id", &User::id),
    defaultedField("appMetadata", &User::appMetadata),
    defaultedField("userMetadata", &User::userMetadata),
    field("aud", &User::aud),
    field("confirmationSentAt", &User::confirmationSentAt),
    field("recoverySentAt", &User::recoverySentAt),
    field("emailChangeSentAt", &User::emailChangeSentAt),
    field("newEmail", &User::newEmail),
    field("invitedAt", &User::invitedAt),
    field("actionLink", &User::actionLink),
    field("email", &User::email),
    field("phone", &User::phone),
    field("createdAt", &User::createdAt),
    field("confirmedAt", &User::confirmedAt),
    field("emailConfirmedAt", &User::emailConfirmedAt),
    field("phoneConfirmedAt", &User::phoneConfirmedAt),
    field("lastSignInAt", &User::lastSignInAt),
    field("role", &User::role),
    field("updatedAt", &User::updatedAt),
    field("identities", &User::identities),
    defaultedField("isAnonymous", &User::isAnonymous),
    field("factors", &User::factors),
};

}  // namespace

boost::json::value Factor::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, factorFields);
}

Factor Factor::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path) {
  return decodeFields(json, decoder, path, factorFields);
}

boost::json::value UserIdentity::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, identityFields);
}

UserIdentity UserIdentity::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  return decodeFields(json, decoder, path, identityFields);
}

boost::json::value User::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, userFields);
}

User User::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                    const CodingPath& path) {
  return decodeFields(json, decoder, path, userFields);
}

std::string uppercaseString(const UUID& id) {
  std::string text = voduzazi::detail::uuidString(id);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace voduzazi::auth
