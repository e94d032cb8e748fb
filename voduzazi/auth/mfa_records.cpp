#include "voduzazi/auth/mfa_records.hpp"

namespace voduzazi::auth {

boost::json::value MFATotpEnrollParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorType", factorType);
  out.encodeIfPresent("issuer", issuer);
  out.encodeIfPresent("friendlyName", friendlyName);
  return std::move(out).json();
}

boost::json::value MFAPhoneEnrollParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorType", factorType);
  out.encodeIfPresent("friendlyName", friendlyName);
  out.encode("phone", phone);
  return std::move(out).json();
}

boost::json::value MFAEnrollParamsType::toJSON(const JSONEncoder& encoder) const {
  return std::visit([&](const auto& params) { return params.toJSON(encoder); }, value);
}

boost::json::value AuthMFAEnrollResponse::TOTP::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("qrCode", qrCode);
  out.encode("secret", secret);
  out.encode("uri", uri);
  return std::move(out).json();
}

AuthMFAEnrollResponse::TOTP AuthMFAEnrollResponse::TOTP::fromJSON(const boost::json::value& json,
                                                                  const JSONDecoder& decoder,
                                                                  const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("qrCode"), in.decode<std::string>("secret"),
          in.decode<std::string>("uri")};
}

boost::json::value AuthMFAEnrollResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("id", id);
  out.encode("type", type);
  out.encodeIfPresent("totp", totp);
  out.encodeIfPresent("friendlyName", friendlyName);
  out.encodeIfPresent("phone", phone);
  return std::move(out).json();
}

AuthMFAEnrollResponse AuthMFAEnrollResponse::fromJSON(const boost::json::value& json,
                                                      const JSONDecoder& decoder,
                                                      const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("id"), in.decode<std::string>("type"),
          in.decodeIfPresent<TOTP>("totp"), in.decodeIfPresent<std::string>("friendlyName"),
          in.decodeIfPresent<std::string>("phone")};
}

boost::json::value MFAChallengeParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorId", factorId);
  out.encodeIfPresent("channel", channel);
  return std::move(out).json();
}

boost::json::value MFAVerifyParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorId", factorId);
  out.encode("challengeId", challengeId);
  out.encode("code", code);
  return std::move(out).json();
}

boost::json::value MFAUnenrollParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorId", factorId);
  return std::move(out).json();
}

boost::json::value MFAChallengeAndVerifyParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorId", factorId);
  out.encode("code", code);
  return std::move(out).json();
}

boost::json::value AuthMFAChallengeResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("id", id);
  out.encode("type", type);
  out.encode("expiresAt", expiresAt);
  return std::move(out).json();
}

AuthMFAChallengeResponse AuthMFAChallengeResponse::fromJSON(const boost::json::value& json,
                                                            const JSONDecoder& decoder,
                                                            const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("id"), in.decode<std::string>("type"),
          in.decode<double>("expiresAt")};
}

boost::json::value AuthMFAUnenrollResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("factorId", factorId);
  return std::move(out).json();
}

AuthMFAUnenrollResponse AuthMFAUnenrollResponse::fromJSON(const boost::json::value& json,
                                                          const JSONDecoder& decoder,
                                                          const CodingPath& path) {
  return {KeyedDecoder(json, decoder, path).decode<std::string>("factorId")};
}

boost::json::value AuthMFAListFactorsResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("all", all);
  out.encode("totp", totp);
  out.encode("phone", phone);
  return std::move(out).json();
}

AuthMFAListFactorsResponse AuthMFAListFactorsResponse::fromJSON(const boost::json::value& json,
                                                                const JSONDecoder& decoder,
                                                                const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::vector<Factor>>("all"), in.decode<std::vector<Factor>>("totp"),
          in.decode<std::vector<Factor>>("phone")};
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

boost::json::value AMREntry::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("method", method);
  out.encode("timestamp", timestamp);
  return std::move(out).json();
}

AMREntry AMREntry::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("method"), in.decode<double>("timestamp")};
}

boost::json::value AuthMFAGetAuthenticatorAssuranceLevelResponse::toJSON(
    const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("currentLevel", currentLevel);
  out.encodeIfPresent("nextLevel", nextLevel);
  out.encode("currentAuthenticationMethods", currentAuthenticationMethods);
  return std::move(out).json();
}

AuthMFAGetAuthenticatorAssuranceLevelResponse
AuthMFAGetAuthenticatorAssuranceLevelResponse::fromJSON(const boost::json::value& json,
                                                        const JSONDecoder& decoder,
                                                        const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("currentLevel"),
          in.decodeIfPresent<std::string>("nextLevel"),
          in.decode<std::vector<AMREntry>>("currentAuthenticationMethods")};
}

}  // namespace voduzazi::auth
