#include "local_backend/storage_error.hpp"

#include <algorithm>
#include <boost/json/object.hpp>
#include <cstdio>

#include "local_backend/detail/utf8.hpp"

namespace local_backend {
namespace {

constexpr std::size_t kLongestShownPath = 200;

// The refused path as a message can show it: quoted, with quotes and backslashes escaped,
// control characters (and the bytes of text that is not UTF-8) as \xNN, cut after 200 bytes
// at a character's start.
std::string shownPath(std::string_view path) {
  const bool utf8 = detail::isValidUtf8(path);
  std::size_t end = std::min(path.size(), kLongestShownPath);
  while (utf8 && end < path.size() && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) {
    --end;
  }
  std::string shown = "\"";
  for (const char c : path.substr(0, end)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      shown += '\\';
      shown += c;
    } else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  shown += '"';
  if (end < path.size()) shown += " (cut after " + std::to_string(end) + " bytes)";
  return shown;
}

}  // namespace

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
  return {http::status::bad_request, "InvalidKey", "Invalid key: " + shownPath(path)};
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
