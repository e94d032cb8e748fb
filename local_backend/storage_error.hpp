// The storage API's refusal: an HTTP status and the body {"statusCode", "error", "message"},
// all three strings ("statusCode" is the status as decimal text).
//
//   throw StorageError(http::status::not_found, "not_found", "Object not found");
//   Response r = storageErrorResponse(request, error);
#pragma once

#include <stdexcept>
#include <string>

#include "local_backend/http_message.hpp"

namespace local_backend {

class StorageError : public std::runtime_error {
 public:
  StorageError(http::status status, std::string error, const std::string& message)
      : std::runtime_error(message), status_(status), error_(std::move(error)) {}

  http::status status() const noexcept { return status_; }
  const std::string& error() const noexcept { return error_; }

  static StorageError bucketNotFound();
  static StorageError objectNotFound();
  static StorageError invalidBucketName(std::string_view name);
  static StorageError invalidKey(std::string_view path);
  static StorageError invalidRequest(const std::string& message);
  static StorageError duplicate();
  static StorageError tooLarge();
  static StorageError unauthorized(const std::string& message);
  // 401 for the anonymous role, 403 for a user: the row-level refusal.
  static StorageError notAllowed(bool anonymous);

 private:
  http::status status_;
  std::string error_;
};

Response storageErrorResponse(const Request& request, const StorageError& error);

}  // namespace local_backend
