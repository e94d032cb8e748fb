#include "voduzazi/auth/detail/raw_api_error_response.hpp"

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::auth::detail {

RawAPIErrorResponse::WeakPassword RawAPIErrorResponse::WeakPassword::fromJSON(
    const boost::json::value& json, const JSONDecoder& decoder, const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::vector<std::string>>("reasons")};
}

std::string RawAPIErrorResponse::messageText() const {
  for (const auto* candidate : {&msg, &message, &errorDescription, &error}) {
    if (*candidate) return **candidate;
  }
  return "Unknown";
}

RawAPIErrorResponse RawAPIErrorResponse::fromJSON(const boost::json::value& json,
                                                  const JSONDecoder& decoder,
                                                  const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("msg"),
          in.decodeIfPresent<std::string>("message"),
          in.decodeIfPresent<std::string>("errorDescription"),
          in.decodeIfPresent<std::string>("error"),
          in.decodeIfPresent<std::string>("code"),
          in.decodeIfPresent<std::string>("errorCode"),
          in.decodeIfPresent<WeakPassword>("weakPassword")};
}

}  // namespace voduzazi::auth::detail
