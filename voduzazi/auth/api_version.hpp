// The auth API versions the client knows, and the header that names them.
//
//   request.headers.set(apiVersionHeaderName(), std::string(toString(APIVersion::Name::_20240101)));
//   if (auto version = apiVersionOf(response.headers())) {
//     if (*version >= APIVersion::version20240101().timestamp) useNewErrorCodes();
//   }
#pragma once

#include <map>
#include <optional>
#include <string_view>

#include "voduzazi/helpers/http_fields_helpers.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi::auth {

// A value type. Every constant here is built once and safe to read from any thread.
struct APIVersion {
  enum class Name { _20240101 };

  Date timestamp;
  Name name;

  // "2024-01-01", starting at 2024-01-01T00:00:00Z.
  static const APIVersion& version20240101();
};

// "2024-01-01".
std::string_view toString(APIVersion::Name name);

// "X-Voduzazi-Api-Version".
const HTTPField::Name& apiVersionHeaderName();

// Every known version by name.
const std::map<APIVersion::Name, APIVersion>& apiVersions();

// The moment a response's version header names (its day at midnight UTC); nothing without the
// header or for a value that is not a date.
std::optional<Date> apiVersionOf(const HTTPFields& responseHeaders);

}  // namespace voduzazi::auth
