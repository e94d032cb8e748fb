// StorageError: the storage API's error body, thrown for an unsuccessful status whose body is
// one.
//
//   try { storage.getBucket("avatars"); }
//   catch (const StorageError& error) {
//     if (error.statusCode() == "404") showMissing(error.message());
//   }
#pragma once

#include <boost/json/value.hpp>
#include <exception>
#include <optional>
#include <string>

#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi::storage {

class StorageError : public std::exception {
 public:
  StorageError(std::optional<std::string> statusCode, std::string message,
               std::optional<std::string> error);

  // The status as the server wrote it, as text.
  const std::optional<std::string>& statusCode() const noexcept { return statusCode_; }
  const std::string& message() const noexcept { return message_; }
  const std::optional<std::string>& error() const noexcept { return error_; }
  const std::string& errorDescription() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  // Keys "statusCode", "message" (required), "error", matched exactly; the three are text.
  // Throws DecodingError for anything else.
  static StorageError fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                               const CodingPath& path = {});

  friend bool operator==(const StorageError& left, const StorageError& right) {
    return left.statusCode_ == right.statusCode_ && left.message_ == right.message_ &&
           left.error_ == right.error_;
  }

 private:
  std::optional<std::string> statusCode_;
  std::string message_;
  std::optional<std::string> error_;
};

}  // namespace voduzazi::storage
