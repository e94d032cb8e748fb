#include "voduzazi/auth/api_version.hpp"

#include <string>

namespace voduzazi::auth {

// The values below are never destroyed: a refresh still under way while the process exits reads
// them when its answer arrives.

const APIVersion& APIVersion::version20240101() {
  static const APIVersion* const version =
      new APIVersion{*sdkDate("2024-01-01T00:00:00.0Z"), Name::_20240101};
  return *version;
}

std::string_view toString(APIVersion::Name name) {
  switch (name) {
    case APIVersion::Name::_20240101:
      return "2024-01-01";
  }
  return "2024-01-01";
}

const HTTPField::Name& apiVersionHeaderName() {
  static const HTTPField::Name* const name = new HTTPField::Name("X-Voduzazi-Api-Version");
  return *name;
}

const std::map<APIVersion::Name, APIVersion>& apiVersions() {
  static const auto* const versions = new std::map<APIVersion::Name, APIVersion>{
      {APIVersion::Name::_20240101, APIVersion::version20240101()}};
  return *versions;
}

std::optional<Date> apiVersionOf(const HTTPFields& responseHeaders) {
  const auto value = responseHeaders.get(apiVersionHeaderName());
  if (!value) return std::nullopt;
  // Only a bare day counts: "yyyy-MM-dd" becomes that day's midnight in UTC.
  return sdkDate(*value + "T00:00:00.0Z");
}

}  // namespace voduzazi::auth
