#include "local_backend/storage_error.hpp"

#include <boost/json/object.hpp>

namespace local_backend {

StorageError StorageError::bucketNotFound() {
  return {http::status::not_found, "Bucket not found", "Bucket not found"};
}

StorageError StorageError::objectNotFound() {
  return {http::status::not_found, "not_found", "Object not found"};
}

StorageError StorageError::invalidBucketName(std::string_view name) {
  return {http::status::bad_request, "Invalid Input",
          "Bucket name invalid: \"" + std::string(name) + "\""};
}

StorageError StorageError::invalidKey(std::string_view path) {
  // The path may hold control characters; the message names its length only.
  return {http::status::bad_request, "InvalidKey",
          "Invalid key: an object path of " + std::to_string(path.size()) + " bytes"};
}

StorageError StorageError::invalidRequest(const std::string& message) {
  return {http::status::bad_request, "Invalid Input", message};
}

StorageError StorageError::duplicate() {
  return {http::status::conflict, "Duplicate", "The resource already exists"};
}

StorageError StorageError::tooLarge() {
  return {http::status::payload_too_large, "Payload too large",
          "The object exceeded the maximum allowed size"};
}

StorageError StorageError::unauthorized(const std::string& message) {
  return {http::status::bad_request, "Unauthorized", message};
}

StorageError StorageError::notAllowed(bool anonymous) {
  return {anonymous ? http::status::unauthorized : http::status::forbidden, "Unauthorized",
          "new row violates row-level security policy"};
}

Response storageErrorResponse(const Request& request, const StorageError& error) {
  const boost::json::object body{
      {"statusCode", std::to_string(static_cast<unsigned>(error.status()))},
      {"error", error.error()},
      {"message", error.what()}};
  return jsonResponse(request, error.status(), body);
}

}  // namespace local_backend
