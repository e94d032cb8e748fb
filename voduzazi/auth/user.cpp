#include "voduzazi/auth/user.hpp"

#include <algorithm>
#include <cctype>

namespace voduzazi::auth {
boost::json::value Factor::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("id", id);
  out.encodeIfPresent("friendlyName", friendlyName);
  out.encode("factorType", factorType);
  out.encode("status", status);
  out.encode("createdAt", createdAt);
  out.encode("updatedAt", updatedAt);
  return std::move(out).json();
}

Factor Factor::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("id"),         in.decodeIfPresent<std::string>("friendlyName"),
          in.decode<std::string>("factorType"), in.decode<FactorStatus>("status"),
          in.decode<Date>("createdAt"),         in.decode<Date>("updatedAt")};
}

boost::json::value UserIdentity::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("id", id);
  out.encode("identityId", identityId);
  out.encode("userId", userId);
  out.encodeIfPresent("identityData", identityData);
  out.encode("provider", provider);
  out.encodeIfPresent("createdAt", createdAt);
  out.encodeIfPresent("lastSignInAt", lastSignInAt);
  out.encodeIfPresent("updatedAt", updatedAt);
  return std::move(out).json();
}

UserIdentity UserIdentity::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  UserIdentity identity;
  identity.id = in.decode<std::string>("id");
  identity.identityId = in.decodeIfPresent<UUID>("identityId").value_or(UUID{});
  identity.userId = in.decode<UUID>("userId");
  identity.identityData = in.decodeIfPresent<JSONObject>("identityData");
  identity.provider = in.decode<std::string>("provider");
  identity.createdAt = in.decodeIfPresent<Date>("createdAt");
  identity.lastSignInAt = in.decodeIfPresent<Date>("lastSignInAt");
  identity.updatedAt = in.decodeIfPresent<Date>("updatedAt");
  return identity;
}

boost::json::value User::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("id", id);
  out.encode("appMetadata", appMetadata);
  out.encode("userMetadata", userMetadata);
  out.encode("aud", aud);
  out.encodeIfPresent("confirmationSentAt", confirmationSentAt);
  out.encodeIfPresent("recoverySentAt", recoverySentAt);
  out.encodeIfPresent("emailChangeSentAt", emailChangeSentAt);
  out.encodeIfPresent("newEmail", newEmail);
  out.encodeIfPresent("invitedAt", invitedAt);
  out.encodeIfPresent("actionLink", actionLink);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("phone", phone);
  out.encode("createdAt", createdAt);
  out.encodeIfPresent("confirmedAt", confirmedAt);
  out.encodeIfPresent("emailConfirmedAt", emailConfirmedAt);
  out.encodeIfPresent("phoneConfirmedAt", phoneConfirmedAt);
  out.encodeIfPresent("lastSignInAt", lastSignInAt);
  out.encodeIfPresent("role", role);
  out.encode("updatedAt", updatedAt);
  out.encodeIfPresent("identities", identities);
  out.encode("isAnonymous", isAnonymous);
  out.encodeIfPresent("factors", factors);
  return std::move(out).json();
}

User User::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                    const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  User user;
  user.id = in.decode<UUID>("id");
  user.appMetadata = in.decodeIfPresent<JSONObject>("appMetadata").value_or(JSONObject{});
  user.userMetadata = in.decodeIfPresent<JSONObject>("userMetadata").value_or(JSONObject{});
  user.aud = in.decode<std::string>("aud");
  user.confirmationSentAt = in.decodeIfPresent<Date>("confirmationSentAt");
  user.recoverySentAt = in.decodeIfPresent<Date>("recoverySentAt");
  user.emailChangeSentAt = in.decodeIfPresent<Date>("emailChangeSentAt");
  user.newEmail = in.decodeIfPresent<std::string>("newEmail");
  user.invitedAt = in.decodeIfPresent<Date>("invitedAt");
  user.actionLink = in.decodeIfPresent<std::string>("actionLink");
  user.email = in.decodeIfPresent<std::string>("email");
  user.phone = in.decodeIfPresent<std::string>("phone");
  user.createdAt = in.decode<Date>("createdAt");
  user.confirmedAt = in.decodeIfPresent<Date>("confirmedAt");
  user.emailConfirmedAt = in.decodeIfPresent<Date>("emailConfirmedAt");
  user.phoneConfirmedAt = in.decodeIfPresent<Date>("phoneConfirmedAt");
  user.lastSignInAt = in.decodeIfPresent<Date>("lastSignInAt");
  user.role = in.decodeIfPresent<std::string>("role");
  user.updatedAt = in.decode<Date>("updatedAt");
  user.identities = in.decodeIfPresent<std::vector<UserIdentity>>("identities");
  user.isAnonymous = in.decodeIfPresent<bool>("isAnonymous").value_or(false);
  user.factors = in.decodeIfPresent<std::vector<Factor>>("factors");
  return user;
}

std::string uppercaseString(const UUID& id) {
  std::string text = voduzazi::detail::uuidString(id);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace voduzazi::auth
