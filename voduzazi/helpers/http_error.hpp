// HTTPError and PostgrestError: what service clients throw for a status they do not accept.
//
//   if (response.statusCode() >= 400) {
//     try {
//       throw response.decoded<PostgrestError>(*decoder);  // the database's error body
//     } catch (const DecodingError&) {
//       throw HTTPError(response.data(), response.underlyingResponse());
//     }
//   }
#pragma once

#include <boost/json/value.hpp>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"
#include "voduzazi/http_types/decoding_error.hpp"

namespace voduzazi {

// The raw response of an unexpected status.
class HTTPError : public std::exception {
 public:
  HTTPError(Data data, std::shared_ptr<const HTTPURLResponse> response);

  const Data& data() const noexcept { return data_; }
  const std::shared_ptr<const HTTPURLResponse>& response() const noexcept { return response_; }
  // "Status Code: <code> Body: <body>", without the body part when it is not UTF-8.
  const std::string& errorDescription() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  Data data_;
  std::shared_ptr<const HTTPURLResponse> response_;
  std::string description_;
};

// The database API's error body. JSON keys "detail", "hint", "code", "message"; other keys are
// ignored, and absent fields are not written.
class PostgrestError : public std::exception {
 public:
  PostgrestError(std::optional<std::string> detail, std::optional<std::string> hint,
                 std::optional<std::string> code, std::string message);

  const std::optional<std::string>& detail() const noexcept { return detail_; }
  const std::optional<std::string>& hint() const noexcept { return hint_; }
  const std::optional<std::string>& code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }
  const std::string& errorDescription() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  boost::json::value toJSON() const;
  // Throws DecodingError when "message" is missing or not a string, or another key has a value
  // that is neither a string nor null.
  static PostgrestError fromJSON(const boost::json::value& json,
                                 const http_types::CodingPath& codingPath = {});

  // Compares the four fields (a defaulted comparison would also need std::exception's).
  friend bool operator==(const PostgrestError& left, const PostgrestError& right) {
    return left.detail_ == right.detail_ && left.hint_ == right.hint_ &&
           left.code_ == right.code_ && left.message_ == right.message_;
  }

 private:
  std::optional<std::string> detail_;
  std::optional<std::string> hint_;
  std::optional<std::string> code_;
  std::string message_;
};

}  // namespace voduzazi
