// How the auth records are coded: the auth coders (snake_case keys, the library's ISO 8601 dates),
// building an enumeration from its raw string, and the secret-masked text of any record.
//
//   Data body = authJSONEncoder()->encode(credentials);            // {"refresh_token":"..."}
//   Session session = authJSONDecoder()->decode<Session>(data);     // throws DecodingError
//   std::optional<Provider> provider = fromRawValue<Provider>("github");
//   logger->debug("session: " + description(session));            // tokens masked
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::auth {

using voduzazi::Date;
using voduzazi::JSONObject;

// New coders with the auth settings; each call returns a distinct object.
std::shared_ptr<JSONEncoder> makeAuthEncoder();
std::shared_ptr<JSONDecoder> makeAuthDecoder();
// The shared auth coders, made once per process and never changed afterwards.
const std::shared_ptr<JSONEncoder>& authJSONEncoder();
const std::shared_ptr<JSONDecoder>& authJSONDecoder();

// The case whose raw value is exactly `text`, or nothing.
template <class E>
std::optional<E> fromRawValue(std::string_view text) {
  E value{};
  if (fromString(text, value)) return value;
  return std::nullopt;
}

namespace detail {
// The record's fields with every secret (tokens, passwords, codes, nonces) replaced by
// "<redacted>".
std::string maskedDescription(const boost::json::value& json);
const JSONEncoder& descriptionEncoder();
}  // namespace detail

// Text of a record for logs and test output; never shows a token, password or code.
template <class Record>
requires requires(const Record& record, const JSONEncoder& encoder) { record.toJSON(encoder); }
std::string description(const Record& record) {
  return detail::maskedDescription(record.toJSON(detail::descriptionEncoder()));
}

template <class Record>
requires requires(const Record& record, const JSONEncoder& encoder) { record.toJSON(encoder); }
std::ostream& operator<<(std::ostream& out, const Record& record) {
  return out << description(record);
}

}  // namespace voduzazi::auth
