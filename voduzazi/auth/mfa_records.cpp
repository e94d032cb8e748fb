#include "voduzazi/auth/mfa_records.hpp"

namespace voduzazi::auth {
namespace {

constexpr auto totpEnrollFields = std::tuple{
    field("factorType", &MFATotpEnrollParams::factorType),
    field("issuer", &MFATotpEnrollParams::issuer),
    field("friendlyName", &MFATotpEnrollParams::friendlyName),
};

constexpr auto phoneEnrollFields = std::tuple{
    field("factorType", &MFAPhoneEnrollParams::factorType),
    field("friendlyName", &MFAPhoneEnrollParams::friendlyName),
    field("phone", &MFAPhoneEnrollParams::phone),
};

constexpr auto totpFields = std::tuple{
    field("qrCode", &AuthMFAEnrollResponse::TOTP::qrCode),
    field("secret", &AuthMFAEnrollResponse::TOTP::secret),
    field("uri", &AuthMFAEnrollResponse::TOTP::uri),
};

constexpr auto enrollResponseFields = std::tuple{
    field("id", &AuthMFAEnrollResponse::id),
    field("type", &AuthMFAEnrollResponse::type),
    field("totp", &AuthMFAEnrollResponse::totp),
    field("friendlyName", &AuthMFAEnrollResponse::friendlyName),
    field("phone", &AuthMFAEnrollResponse::phone),
};

constexpr auto challengeFields = std::tuple{
    field("factorId", &MFAChallengeParams::factorId),
    field("channel", &MFAChallengeParams::channel),
};

constexpr auto verifyFields = std::tuple{
    field("factorId", &MFAVerifyParams::factorId),
    field("challengeId", &MFAVerifyParams::challengeId),
    field("code", &MFAVerifyParams::code),
};

constexpr auto unenrollFields = std::tuple{
    field("factorId", &MFAUnenrollParams::factorId),
};

constexpr auto challengeAndVerifyFields = std::tuple{
    field("factorId", &MFAChallengeAndVerifyParams::factorId),
    field("code", &MFAChallengeAndVerifyParams::code),
};

constexpr auto challengeResponseFields = std::tuple{
    field("id", &AuthMFAChallengeResponse::id),
    field("type", &AuthMFAChallengeResponse::type),
    field("expiresAt", &AuthMFAChallengeResponse::expiresAt),
};

constexpr auto unenrollResponseFields = std::tuple{
    field("factorId", &AuthMFAUnenrollResponse::factorId),
};

constexpr auto listFactorsFields = std::tuple{
    field("all", &AuthMFAListFactorsResponse::all),
    field("totp", &AuthMFAListFactorsResponse::totp),
    field("phone", &AuthMFAListFactorsResponse::phone),
};

constexpr auto amrFields = std::tuple{
    field("method", &AMREntry::method),
    field("timestamp", &AMREntry::timestamp),
};

constexpr auto assuranceLevelFields = std::tuple{
    field("currentLevel", &AuthMFAGetAuthenticatorAssuranceLevelResponse::currentLevel),
    field("nextLevel", &AuthMFAGetAuthenticatorAssuranceLevelResponse::nextLevel),
    field("currentAuthenticationMethods",
          &AuthMFAGetAuthenticatorAssuranceLevelResponse::currentAuthenticationMethods),
};

}  // namespace

boost::json::value MFATotpEnrollParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, totpEnrollFields);
}

boost::json::value MFAPhoneEnrollParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, phoneEnrollFields);
}

boost::json::value AuthMFAEnrollResponse::TOTP::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, totpFields);
}

AuthMFAEnrollResponse::TOTP AuthMFAEnrollResponse::TOTP::fromJSON(const boost::json::value& json,
                                                                  const JSONDecoder& decoder,
                                                                  const CodingPath& path) {
  return decodeFields(json, decoder, path, totpFields);
}

boost::json::value AuthMFAEnrollResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, enrollResponseFields);
}

AuthMFAEnrollResponse AuthMFAEnrollResponse::fromJSON(const boost::json::value& json,
                                                      const JSONDecoder& decoder,
                                                      const CodingPath& path) {
  return decodeFields(json, decoder, path, enrollResponseFields);
}

boost::json::value MFAChallengeParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, challengeFields);
}

boost::json::value MFAVerifyParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, verifyFields);
}

boost::json::value MFAUnenrollParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, unenrollFields);
}

boost::json::value MFAChallengeAndVerifyParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, challengeAndVerifyFields);
}

boost::json::value AuthMFAChallengeResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, challengeResponseFields);
}

AuthMFAChallengeResponse AuthMFAChallengeResponse::fromJSON(const boost::json::value& json,
                                                            const JSONDecoder& decoder,
                                                            const CodingPath& path) {
  return decodeFields(json, decoder, path, challengeResponseFields);
}

boost::json::value AuthMFAUnenrollResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, unenrollResponseFields);
}

AuthMFAUnenrollResponse AuthMFAUnenrollResponse::fromJSON(const boost::json::value& json,
                                                          const JSONDecoder& decoder,
                                                          const CodingPath& path) {
  return decodeFields(json, decoder, path, unenrollResponseFields);
}

boost::json::value AuthMFAListFactorsResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, listFactorsFields);
}

AuthMFAListFactorsResponse AuthMFAListFactorsResponse::fromJSON(const boost::json::value& json,
                                                                const JSONDecoder& decoder,
                                                                const CodingPath& path) {
  return decodeFields(json, decoder, path, listFactorsFields);
}

boost::json::value AMREntry::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, amrFields);
}

AMREntry AMREntry::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path) {
  return decodeFields(json, decoder, path, amrFields);
}

boost::json::value AuthMFAGetAuthenticatorAssuranceLevelResponse::toJSON(
    const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, assuranceLevelFields);
}

AuthMFAGetAuthenticatorAssuranceLevelResponse
AuthMFAGetAuthenticatorAssuranceLevelResponse::fromJSON(const boost::json::value& json,
                                                        const JSONDecoder& decoder,
                                                        const CodingPath& path) {
  return decodeFields(json, decoder, path, assuranceLevelFields);
}

boost::json::value MFAEnrollParamsType::toJSON(const JSONEncoder& encoder) const {
  return std::visit([&](const auto& params) { return params.toJSON(encoder); }, value);
}

std::optional<AMREntry> AMREntry::fromValue(const AnyJSON& value) {
  const JSONObject* object = value.objectValue();
  if (!object) return std::nullopt;
  const auto method = object->find("method");
  const auto timestamp = object->find("timestamp");
  if (method == object->end() || timestamp == object->end()) return std::nullopt;
  const std::string* methodText = method->second.stringValue();
  std::optional<double> seconds = timestamp->second.doubleValue();
  if (auto integer = timestamp->second.intValue()) seconds = static_cast<double>(*integer);
  if (!methodText || !seconds) return std::nullopt;
  return AMREntry{*methodText, *seconds};
}

}  // namespace voduzazi::auth
