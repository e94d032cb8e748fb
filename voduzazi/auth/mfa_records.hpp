// The records of the multi-factor operations: enrolment, challenge, verification and unenrolment
// parameters, their answers, and the authenticator assurance level.
//
//   auto params = MFAEnrollParamsType::totp("Tapwick", "laptop");
//   Data body = authJSONEncoder()->encode(params);          // {"factor_type":"totp",...}
//   auto answer = authJSONDecoder()->decode<AuthMFAEnrollResponse>(response.data);
//   std::optional<AMREntry> entry = AMREntry::fromValue(claim);   // from an "amr" element
//
// Plain values; parameter records are encoded only, answers decoded only.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user.hpp"

namespace voduzazi::auth {

struct MFATotpEnrollParams {
  std::string factorType = "totp";
  std::optional<std::string> issuer{};
  std::optional<std::string> friendlyName{};

  MFATotpEnrollParams(std::optional<std::string> issuer = std::nullopt,
                      std::optional<std::string> friendlyName = std::nullopt)
      : issuer(std::move(issuer)), friendlyName(std::move(friendlyName)) {}

  bool operator==(const MFATotpEnrollParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct MFAPhoneEnrollParams {
  std::string factorType = "phone";
  std::optional<std::string> friendlyName{};
  std::string phone{};

  MFAPhoneEnrollParams(std::optional<std::string> friendlyName, std::string phone)
      : friendlyName(std::move(friendlyName)), phone(std::move(phone)) {}

  bool operator==(const MFAPhoneEnrollParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// Either enrolment record, encoded through the held record's own coding.
struct MFAEnrollParamsType {
  std::variant<MFATotpEnrollParams, MFAPhoneEnrollParams> value;

  MFAEnrollParamsType(MFATotpEnrollParams params) : value(std::move(params)) {}
  MFAEnrollParamsType(MFAPhoneEnrollParams params) : value(std::move(params)) {}

  static MFATotpEnrollParams totp(std::optional<std::string> issuer = std::nullopt,
                                  std::optional<std::string> friendlyName = std::nullopt) {
    return MFATotpEnrollParams(std::move(issuer), std::move(friendlyName));
  }
  static MFAPhoneEnrollParams phone(std::optional<std::string> friendlyName, std::string phone) {
    return MFAPhoneEnrollParams(std::move(friendlyName), std::move(phone));
  }

  bool operator==(const MFAEnrollParamsType&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct AuthMFAEnrollResponse {
  struct TOTP {
    std::string qrCode{};
    std::string secret{};
    std::string uri{};

    bool operator==(const TOTP&) const = default;
    boost::json::value toJSON(const JSONEncoder& encoder) const;
    static TOTP fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                         const CodingPath& path = {});
  };

  std::string id{};
  std::string type{};
  std::optional<TOTP> totp{};
  std::optional<std::string> friendlyName{};
  std::optional<std::string> phone{};

  bool operator==(const AuthMFAEnrollResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;  // for text forms only
  static AuthMFAEnrollResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                        const CodingPath& path = {});
};

// Read by the challenge operation; the record itself is not sent.
struct MFAChallengeParams {
  std::string factorId{};
  std::optional<MessagingChannel> channel{};

  bool operator==(const MFAChallengeParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct MFAVerifyParams {
  std::string factorId{};
  std::string challengeId{};
  std::string code{};

  bool operator==(const MFAVerifyParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct MFAUnenrollParams {
  std::string factorId{};

  bool operator==(const MFAUnenrollParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct MFAChallengeAndVerifyParams {
  std::string factorId{};
  std::string code{};

  bool operator==(const MFAChallengeAndVerifyParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct AuthMFAChallengeResponse {
  std::string id{};
  std::string type{};
  double expiresAt = 0;  // seconds since 1970-01-01T00:00:00Z

  bool operator==(const AuthMFAChallengeResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AuthMFAChallengeResponse fromJSON(const boost::json::value& json,
                                           const JSONDecoder& decoder, const CodingPath& path = {});
};

struct AuthMFAUnenrollResponse {
  std::string factorId{};

  bool operator==(const AuthMFAUnenrollResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AuthMFAUnenrollResponse fromJSON(const boost::json::value& json,
                                          const JSONDecoder& decoder, const CodingPath& path = {});
};

struct AuthMFAListFactorsResponse {
  std::vector<Factor> all{};
  std::vector<Factor> totp{};
  std::vector<Factor> phone{};

  bool operator==(const AuthMFAListFactorsResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AuthMFAListFactorsResponse fromJSON(const boost::json::value& json,
                                             const JSONDecoder& decoder,
                                             const CodingPath& path = {});
};

// One authentication method of the session.
struct AMREntry {
  std::string method{};
  double timestamp = 0;  // seconds since 1970-01-01T00:00:00Z

  // An entry from one element of the token's "amr" claim: an object whose "method" is text and
  // whose "timestamp" is a number; nothing for anything else. Never throws.
  static std::optional<AMREntry> fromValue(const AnyJSON& value);

  bool operator==(const AMREntry&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AMREntry fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                           const CodingPath& path = {});
};

struct AuthMFAGetAuthenticatorAssuranceLevelResponse {
  std::optional<std::string> currentLevel{};
  std::optional<std::string> nextLevel{};
  std::vector<AMREntry> currentAuthenticationMethods{};

  bool operator==(const AuthMFAGetAuthenticatorAssuranceLevelResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AuthMFAGetAuthenticatorAssuranceLevelResponse fromJSON(const boost::json::value& json,
                                                                const JSONDecoder& decoder,
                                                                const CodingPath& path = {});
};

}  // namespace voduzazi::auth
