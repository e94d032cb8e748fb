// The error body of the auth API, as the API client reads it.
//
//   auto body = decoder.decode<detail::RawAPIErrorResponse>(response.data());
//   std::string text = body.messageText();     // "Unknown" when the body names none
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi::auth::detail {

// A value type. Its keys are "msg", "message", "errorDescription", "error", "code", "errorCode"
// and "weakPassword"; the auth decoder matches the wire's snake_case against them.
struct RawAPIErrorResponse {
  struct WeakPassword {
    std::optional<std::vector<std::string>> reasons;

    static WeakPassword fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                 const CodingPath& path = {});
  };

  std::optional<std::string> msg;
  std::optional<std::string> message;
  std::optional<std::string> errorDescription;
  std::optional<std::string> error;
  std::optional<std::string> code;
  std::optional<std::string> errorCode;
  std::optional<WeakPassword> weakPassword;

  // The first of msg, message, errorDescription and error that is present, else "Unknown".
  std::string messageText() const;

  // Absent and null keys are absent fields. Throws DecodingError for a body that is not an object
  // and for a known key holding a value of another type.
  static RawAPIErrorResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path = {});
};

}  // namespace voduzazi::auth::detail
