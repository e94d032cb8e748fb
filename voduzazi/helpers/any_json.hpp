// AnyJSON: a dynamically typed JSON value (null, boolean, integer, double, string, object,
// array) for payloads whose shape is not known in advance. Integers and doubles stay apart.
//
//   AnyJSON payload = JSONObject{{"id", 7}, {"name", "Ada"}, {"tags", JSONArray{"a", "b"}}};
//   if (auto id = payload.objectValue()->at("id").intValue()) use(*id);
//   Data text = AnyJSON::encoder()->encode(payload);   // {"id":7,"name":"Ada","tags":["a","b"]}
//   AnyJSON back = AnyJSON::decoder()->decode<AnyJSON>(text);
//   Profile profile = payload.decode<Profile>();
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "voduzazi/http_types/decoding_error.hpp"

namespace voduzazi {

class AnyJSON;
class JSONEncoder;
class JSONDecoder;

// Objects keep their keys sorted, so equal objects print and encode alike.
using JSONObject = std::map<std::string, AnyJSON, std::less<>>;
using JSONArray = std::vector<AnyJSON>;

// A value type: copies own their whole tree. Distinct objects: safe; shared objects: read-only.
class AnyJSON {
 public:
  // The cases, in declaration order (the index of each in Storage).
  enum class Kind { null, boolean, integer, double_, string, object, array };

  AnyJSON() = default;  // null
  AnyJSON(std::nullptr_t) {}
  AnyJSON(bool value) : storage_(value) {}
  template <class Integer>
  requires(std::is_integral_v<Integer> && !std::is_same_v<Integer, bool> &&
           !std::is_same_v<Integer, char>) AnyJSON(Integer value)
      : storage_(fromInteger(value)) {}
  AnyJSON(double value) : storage_(value) {}
  AnyJSON(float value) : storage_(static_cast<double>(value)) {}
  AnyJSON(const char* value) : storage_(std::string(value)) {}
  AnyJSON(std::string value) : storage_(std::move(value)) {}
  AnyJSON(std::string_view value) : storage_(std::string(value)) {}
  AnyJSON(JSONObject value) : storage_(std::move(value)) {}
  AnyJSON(JSONArray value) : storage_(std::move(value)) {}

  Kind kind() const { return static_cast<Kind>(storage_.index()); }

  // Each answers only for its own case; an integer is never a double and vice versa.
  bool isNil() const { return kind() == Kind::null; }
  std::optional<bool> boolValue() const { return get<bool>(); }
  std::optional<std::int64_t> intValue() const { return get<std::int64_t>(); }
  std::optional<double> doubleValue() const { return get<double>(); }
  const std::string* stringValue() const { return std::get_if<std::string>(&storage_); }
  const JSONObject* objectValue() const { return std::get_if<JSONObject>(&storage_); }
  const JSONArray* arrayValue() const { return std::get_if<JSONArray>(&storage_); }

  // Text for logs, not JSON: strings bare at the top and quoted inside collections, doubles with
  // a fraction part ("2.0"), null as "<null>", objects as ["key": value, ...] and [:] when empty.
  std::string description() const;

  // The Boost.JSON form; doubles stay doubles and integers stay int64.
  boost::json::value toJSON() const;
  // Integral numbers become integers (unsigned ones beyond int64 become doubles).
  static AnyJSON fromJSON(const boost::json::value& json);

  // Any value the shared encoder can encode, as AnyJSON (an AnyJSON stays as it is).
  template <class T>
  static AnyJSON from(const T& value);

  // This value decoded as T by `decoder` (the shared decoder by default); throws DecodingError.
  template <class T>
  T decode(const JSONDecoder& decoder) const;
  template <class T>
  T decode() const;

  // The shared coders, made once per process and never destroyed; every user sees the same objects.
  static const std::shared_ptr<JSONEncoder>& encoder();
  static const std::shared_ptr<JSONDecoder>& decoder();

  // Same case and equal payloads; doubles compare as numbers (0.0 == -0.0, NaN != NaN).
  friend bool operator==(const AnyJSON& left, const AnyJSON& right);
  std::size_t hashValue() const;

 private:
  template <class T>
  std::optional<T> get() const {
    if (const T* value = std::get_if<T>(&storage_)) return *value;
    return std::nullopt;
  }

  using Storage =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, JSONObject, JSONArray>;

  // An unsigned value past the signed range is held as a double, as fromJSON holds such numbers.
  template <class Integer>
  static Storage fromInteger(Integer value) {
    if constexpr (std::is_unsigned_v<Integer>) {
      if (value > static_cast<std::uint64_t>(INT64_MAX)) return static_cast<double>(value);
    }
    return static_cast<std::int64_t>(value);
  }

  Storage storage_;
};

// Boost.JSON conversions, so that containers of AnyJSON convert with value_from / value_to.
void tag_invoke(boost::json::value_from_tag, boost::json::value& json, const AnyJSON& value);
AnyJSON tag_invoke(boost::json::value_to_tag<AnyJSON>, const boost::json::value& json);

// An object built from any encodable value; throws DecodingError (typeMismatch, "Expected to
// decode value to Dictionary<String, AnyJSON>.") when the value does not encode as an object.
template <class T>
JSONObject jsonObject(const T& value);

// The list or object decoded as T; throws DecodingError.
template <class T>
T decode(const JSONArray& values, const JSONDecoder& decoder);
template <class T>
T decode(const JSONObject& values, const JSONDecoder& decoder);

}  // namespace voduzazi

template <>
struct std::hash<voduzazi::AnyJSON> {
  std::size_t operator()(const voduzazi::AnyJSON& value) const { return value.hashValue(); }
};

// Implementation.

#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi {

template <class T>
AnyJSON AnyJSON::from(const T& value) {
  if constexpr (std::is_same_v<T, AnyJSON>) {
    return value;
  } else {
    return fromJSON(encoder()->encodeToJSON(value));
  }
}

template <class T>
T AnyJSON::decode(const JSONDecoder& decoder) const {
  return decoder.template decodeJSON<T>(toJSON());
}

template <class T>
T AnyJSON::decode() const {
  return decode<T>(*decoder());
}

template <class T>
JSONObject jsonObject(const T& value) {
  AnyJSON json = AnyJSON::from(value);
  if (const JSONObject* object = json.objectValue()) return *object;
  throw http_types::DecodingError(http_types::DecodingError::Kind::typeMismatch, {},
                                  "Expected to decode value to Dictionary<String, AnyJSON>.");
}

template <class T>
T decode(const JSONArray& values, const JSONDecoder& decoder) {
  return AnyJSON(values).decode<T>(decoder);
}

template <class T>
T decode(const JSONObject& values, const JSONDecoder& decoder) {
  return AnyJSON(values).decode<T>(decoder);
}

}  // namespace voduzazi
