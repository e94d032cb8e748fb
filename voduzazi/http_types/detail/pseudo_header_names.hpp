// The names of the pseudo-header fields, lower-case as on the wire.
//
//   HTTPField method(detail::methodName(), "GET");
//   if (field.name() == detail::statusName()) { ... }
#pragma once

#include <string>

#include "voduzazi/http_types/http_field.hpp"

namespace voduzazi::http_types::detail {

// Built on first use, so they are ready even for constructors that run before main.
const HTTPField::Name& methodName();
const HTTPField::Name& schemeName();
const HTTPField::Name& authorityName();
const HTTPField::Name& pathName();
const HTTPField::Name& protocolName();
const HTTPField::Name& statusName();

// The value octets of `field` as coded text (each octet as one character), for messages that
// quote a stored value.
std::string storedValueText(const HTTPField& field);

}  // namespace voduzazi::http_types::detail
