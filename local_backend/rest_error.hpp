// The REST API's error: an HTTP status and the database error body
// {"code", "message", "details", "hint"} (the details also under "detail").
//
//   throw RestError(http::status::bad_request, "PGRST100", "unknown operator \"xx\"");
//   Response r = restErrorResponse(request, error);
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "local_backend/http_message.hpp"

namespace local_backend {

class RestError : public std::runtime_error {
 public:
  RestError(http::status status, std::string code, const std::string& message,
            std::optional<std::string> details = std::nullopt,
            std::optional<std::string> hint = std::nullopt)
      : std::runtime_error(message),
        status_(status),
        code_(std::move(code)),
        details_(std::move(details)),
        hint_(std::move(hint)) {}

  http::status status() const noexcept { return status_; }
  const std::string& code() const noexcept { return code_; }
  const std::optional<std::string>& details() const noexcept { return details_; }
  const std::optional<std::string>& hint() const noexcept { return hint_; }

 private:
  http::status status_;
  std::string code_;
  std::optional<std::string> details_;
  std::optional<std::string> hint_;
};

// Bad request syntax: 400 with "PGRST100".
RestError syntaxError(const std::string& message, std::optional<std::string> details = {});

// The body carries all four keys, the details also as "detail"; absent details and hint are
// null.
Response restErrorResponse(const Request& request, const RestError& error);

}  // namespace local_backend
