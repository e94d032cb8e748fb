#include "voduzazi/http_types/detail/json_coding.hpp"

#include <utility>

namespace voduzazi::http_types::detail {
namespace {

std::string typeName(const boost::json::value& json) {
  switch (json.kind()) {
    case boost::json::kind::null: return "null";
    case boost::json::kind::bool_: return "a boolean";
    case boost::json::kind::int64:
    case boost::json::kind::uint64:
    case boost::json::kind::double_: return "a number";
    case boost::json::kind::string: return "a string";
    case boost::json::kind::array: return "an array";
    case boost::json::kind::object: return "an object";
  }
  return "an unknown value";
}

DecodingError typeMismatch(const CodingPath& path, std::string_view expected,
                           const boost::json::value& found) {
  return DecodingError(DecodingError::Kind::typeMismatch, path,
                       "Expected to decode " + std::string(expected) + " but found " +
                           typeName(found) + " instead.");
}

}  // namespace

CodingPath appending(const CodingPath& path, std::string key) {
  CodingPath extended = path;
  extended.push_back(std::move(key));
  return extended;
}

CodingPath appendingIndex(const CodingPath& path, std::size_t index) {
  return appending(path, "Index " + std::to_string(index));
}

const boost::json::object& asObject(const boost::json::value& json, const CodingPath& path) {
  if (const auto* object = json.if_object()) return *object;
  throw typeMismatch(path, "an object", json);
}

const boost::json::array& asArray(const boost::json::value& json, const CodingPath& path) {
  if (const auto* array = json.if_array()) return *array;
  throw typeMismatch(path, "an array", json);
}

std::string_view asString(const boost::json::value& json, const CodingPath& path) {
  if (const auto* string = json.if_string()) return *string;
  throw typeMismatch(path, "a string", json);
}

const boost::json::value& requiredValue(const boost::json::object& object, std::string_view key,
                                        const CodingPath& path) {
  const auto* value = object.if_contains(key);
  if (value == nullptr) {
    throw DecodingError(DecodingError::Kind::keyNotFound, appending(path, std::string(key)),
                        "No value associated with key \"" + std::string(key) + "\".");
  }
  if (value->is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, appending(path, std::string(key)),
                        "Expected a value for key \"" + std::string(key) + "\" but found null.");
  }
  return *value;
}

std::optional<unsigned char> optionalUInt8(const boost::json::object& object, std::string_view key,
                                           const CodingPath& path) {
  const auto* value = object.if_contains(key);
  if (value == nullptr || value->is_null()) return std::nullopt;
  const CodingPath keyPath = appending(path, std::string(key));
  if (const auto* number = value->if_int64()) {
    if (*number >= 0 && *number <= 0xFF) return static_cast<unsigned char>(*number);
    throw dataCorrupted(keyPath, "Number " + std::to_string(*number) + " does not fit in UInt8.");
  }
  if (const auto* number = value->if_uint64()) {
    if (*number <= 0xFF) return static_cast<unsigned char>(*number);
    throw dataCorrupted(keyPath, "Number " + std::to_string(*number) + " does not fit in UInt8.");
  }
  throw typeMismatch(keyPath, "an unsigned 8-bit number", *value);
}

DecodingError dataCorrupted(const CodingPath& path, std::string message) {
  return DecodingError(DecodingError::Kind::dataCorrupted, path, std::move(message));
}

}  // namespace voduzazi::http_types::detail
