// Keyed coding: how a record writes and reads its declared keys through the coders' key and date
// strategies. Free-form objects (JSONObject, AnyJSON) inside a record keep their keys unchanged.
//
//   boost::json::value Credentials::toJSON(const JSONEncoder& encoder) const {
//     KeyedEncoder out(encoder);
//     out.encodeIfPresent("refreshToken", refreshToken);   // "refresh_token" with snake case
//     return std::move(out).json();
//   }
//   Credentials Credentials::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
//                                     const CodingPath& path) {
//     KeyedDecoder in(json, decoder, path);                 // typeMismatch unless an object
//     return {in.decodeIfPresent<std::string>("refreshToken")};
//   }
//
// Most records list each field once, in a table, and let encodeFields / decodeFields code them:
//
//   constexpr auto credentialsFields = std::tuple{field("email", &Credentials::email),
//                                                 field("refreshToken",
//                                                 &Credentials::refreshToken)};
//   return encodeFields(*this, encoder, credentialsFields);
//
// Values: std::string, bool, double, integers, Date, boost::uuids::uuid (lower-case text), URLs,
// JSONObject, AnyJSON, std::vector of values, records with toJSON(encoder) / fromJSON(json,
// decoder, path), and enumerations with ADL functions `toString(E)` and
// `fromString(std::string_view, E&) -> bool`. Distinct objects: safe; shared objects: unsafe.
#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <boost/url/url.hpp>
#include <boost/uuid/uuid.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/detail/is_optional.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi {

// Builds one JSON object; keys go out in the order they are encoded.
class KeyedEncoder {
 public:
  explicit KeyedEncoder(const JSONEncoder& encoder) : encoder_(encoder) {}

  template <class T>
  void encode(std::string_view key, const T& value);
  // Writes nothing for an absent value (never null).
  template <class T>
  void encodeIfPresent(std::string_view key, const std::optional<T>& value) {
    if (value) encode(key, *value);
  }

  boost::json::value json() && { return std::move(object_); }

 private:
  const JSONEncoder& encoder_;
  boost::json::object object_;
};

// Reads one JSON object. Keys are matched after the decoder's key strategy; where two incoming
// keys map to the same coding key, the first one counts.
class KeyedDecoder {
 public:
  // Throws DecodingError (typeMismatch) when `json` is not an object.
  KeyedDecoder(const boost::json::value& json, const JSONDecoder& decoder, CodingPath path);

  // True when the key is there, also with null.
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Throws DecodingError: keyNotFound, valueNotFound for null, typeMismatch, dataCorrupted.
  template <class T>
  T decode(std::string_view key) const;
  // Nothing for a missing key or null; a present value of the wrong type still throws.
  template <class T>
  std::optional<T> decodeIfPresent(std::string_view key) const;

  const JSONDecoder& decoder() const { return decoder_; }
  const CodingPath& codingPath() const { return path_; }

 private:
  const boost::json::value* find(std::string_view key) const;

  const JSONDecoder& decoder_;
  CodingPath path_;
  std::vector<std::pair<std::string, const boost::json::value*>> members_;
};

namespace detail {

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

DecodingError typeMismatch(const CodingPath& path, std::string_view expected,
                           const boost::json::value& found);
DecodingError valueNotFound(const CodingPath& path, std::string_view expected);
std::string uuidString(const boost::uuids::uuid& uuid);
// Exactly 8-4-4-4-12 hexadecimal digits, either case; nothing otherwise.
std::optional<boost::uuids::uuid> uuidFromString(std::string_view text);
CodingPath appendingKey(const CodingPath& path, std::string_view key);
CodingPath appendingIndex(const CodingPath& path, std::size_t index);
// A URL or relative reference; nothing for an empty or malformed text.
std::optional<boost::urls::url> urlFromString(std::string_view text);

}  // namespace detail

// One coded field of a record. An optional member is written only when present and read as
// absent for a missing key or null; any other member is always written and required, unless
// made with defaultedField, which reads a missing key or null as the member type's default.
template <class Record, class Member>
struct CodedField {
  std::string_view key;
  Member Record::*member;
  bool defaultWhenAbsent = false;
};

template <class Record, class Member>
constexpr CodedField<Record, Member> field(std::string_view key, Member Record::*member) {
  return {key, member, false};
}
template <class Record, class Member>
constexpr CodedField<Record, Member> defaultedField(std::string_view key, Member Record::*member) {
  return {key, member, true};
}

// The record as a JSON object of its fields, in table order.
template <class Record, class... Members>
boost::json::value encodeFields(const Record& record, const JSONEncoder& encoder,
                                const std::tuple<CodedField<Record, Members>...>& fields);
// A value-initialised record with each field read in table order; the first failure throws.
template <class Record, class... Members>
Record decodeFields(const boost::json::value& json, const JSONDecoder& decoder,
                    const CodingPath& path,
                    const std::tuple<CodedField<Record, Members>...>& fields);

// One value in the encoder's form.
template <class T>
boost::json::value encodeValue(const T& value, const JSONEncoder& encoder);
// One value in the decoder's form; throws DecodingError naming `path`.
template <class T>
T decodeValue(const boost::json::value& json, const JSONDecoder& decoder, const CodingPath& path);

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class T>
boost::json::value encodeValue(const T& value, const JSONEncoder& encoder) {
  if constexpr (std::is_same_v<T, std::string>) {
    return boost::json::string(value);
  } else if constexpr (std::is_same_v<T, bool>) {
    return value;
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<double>(value);
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<std::int64_t>(value);
  } else if constexpr (std::is_same_v<T, Date>) {
    return encoder.encodeDate(value);
  } else if constexpr (std::is_same_v<T, boost::uuids::uuid>) {
    return boost::json::string(detail::uuidString(value));
  } else if constexpr (std::is_same_v<T, boost::urls::url>) {
    return boost::json::string(value.buffer());
  } else if constexpr (std::is_same_v<T, JSONObject>) {
    return AnyJSON(value).toJSON();
  } else if constexpr (std::is_same_v<T, AnyJSON>) {
    return value.toJSON();
  } else if constexpr (detail::IsVector<T>::value) {
    boost::json::array array;
    for (const auto& item : value) array.push_back(encodeValue(item, encoder));
    return array;
  } else if constexpr (std::is_enum_v<T>) {
    return boost::json::string(toString(value));
  } else {
    return value.toJSON(encoder);
  }
}

template <class T>
T decodeValue(const boost::json::value& json, const JSONDecoder& decoder, const CodingPath& path) {
  if constexpr (std::is_same_v<T, AnyJSON>) {
    return AnyJSON::fromJSON(json);
  } else {
    if (json.is_null()) throw detail::valueNotFound(path, "a value");
    if constexpr (std::is_same_v<T, std::string>) {
      if (!json.is_string()) throw detail::typeMismatch(path, "String", json);
      return std::string(json.get_string());
    } else if constexpr (std::is_same_v<T, bool>) {
      if (!json.is_bool()) throw detail::typeMismatch(path, "Bool", json);
      return json.get_bool();
    } else if constexpr (std::is_floating_point_v<T>) {
      if (!json.is_number()) throw detail::typeMismatch(path, "Double", json);
      return static_cast<T>(json.to_number<double>());
    } else if constexpr (std::is_integral_v<T>) {
      boost::system::error_code error;
      const auto number = json.is_number() ? json.to_number<T>(error) : T{};
      if (!json.is_number() || error) throw detail::typeMismatch(path, "Int", json);
      return number;
    } else if constexpr (std::is_same_v<T, Date>) {
      return decoder.decodeDate(json, path);
    } else if constexpr (std::is_same_v<T, boost::uuids::uuid>) {
      if (!json.is_string()) throw detail::typeMismatch(path, "String", json);
      auto uuid = detail::uuidFromString(json.get_string());
      if (!uuid) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, path,
                            "Attempted to decode UUID from invalid UUID string.");
      }
      return *uuid;
    } else if constexpr (std::is_same_v<T, boost::urls::url>) {
      if (!json.is_string()) throw detail::typeMismatch(path, "String", json);
      auto url = detail::urlFromString(json.get_string());
      if (!url) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, path, "Invalid URL string.");
      }
      return *url;
    } else if constexpr (std::is_same_v<T, JSONObject>) {
      if (!json.is_object()) throw detail::typeMismatch(path, "Dictionary", json);
      return *AnyJSON::fromJSON(json).objectValue();
    } else if constexpr (detail::IsVector<T>::value) {
      if (!json.is_array()) throw detail::typeMismatch(path, "Array", json);
      T values;
      const auto& array = json.get_array();
      values.reserve(array.size());
      for (std::size_t i = 0; i < array.size(); ++i) {
        values.push_back(decodeValue<typename T::value_type>(array[i], decoder,
                                                             detail::appendingIndex(path, i)));
      }
      return values;
    } else if constexpr (std::is_enum_v<T>) {
      if (!json.is_string()) throw detail::typeMismatch(path, "String", json);
      T value{};
      if (!fromString(std::string_view(json.get_string()), value)) {
        throw DecodingError(
            DecodingError::Kind::dataCorrupted, path,
            "Cannot initialize from invalid String value " + std::string(json.get_string()));
      }
      return value;
    } else {
      return T::fromJSON(json, decoder, path);
    }
  }
}

template <class T>
void KeyedEncoder::encode(std::string_view key, const T& value) {
  object_[encoder_.codingKey(key)] = encodeValue(value, encoder_);
}

template <class T>
T KeyedDecoder::decode(std::string_view key) const {
  const boost::json::value* json = find(key);
  if (!json) {
    throw DecodingError(DecodingError::Kind::keyNotFound, path_,
                        "No value associated with key \"" + std::string(key) + "\".");
  }
  return decodeValue<T>(*json, decoder_, detail::appendingKey(path_, key));
}

template <class T>
std::optional<T> KeyedDecoder::decodeIfPresent(std::string_view key) const {
  const boost::json::value* json = find(key);
  if (!json || json->is_null()) return std::nullopt;
  return decodeValue<T>(*json, decoder_, detail::appendingKey(path_, key));
}

template <class Record, class... Members>
boost::json::value encodeFields(const Record& record, const JSONEncoder& encoder,
                                const std::tuple<CodedField<Record, Members>...>& fields) {
  KeyedEncoder out(encoder);
  const auto encodeOne = [&](const auto& coded) {
    const auto& value = record.*(coded.member);
    if constexpr (detail::IsOptional<std::decay_t<decltype(value)>>::value) {
      out.encodeIfPresent(coded.key, value);
    } else {
      out.encode(coded.key, value);
    }
  };
  std::apply([&](const auto&... coded) { (encodeOne(coded), ...); }, fields);
  return std::move(out).json();
}

template <class Record, class... Members>
Record decodeFields(const boost::json::value& json, const JSONDecoder& decoder,
                    const CodingPath& path,
                    const std::tuple<CodedField<Record, Members>...>& fields) {
  KeyedDecoder in(json, decoder, path);
  Record record{};
  const auto decodeOne = [&](const auto& coded) {
    auto& value = record.*(coded.member);
    using Member = std::decay_t<decltype(value)>;
    if constexpr (detail::IsOptional<Member>::value) {
      value = in.template decodeIfPresent<typename Member::value_type>(coded.key);
    } else if (coded.defaultWhenAbsent) {
      value = in.template decodeIfPresent<Member>(coded.key).value_or(Member{});
    } else {
      value = in.template decode<Member>(coded.key);
    }
  };
  std::apply([&](const auto&... coded) { (decodeOne(coded), ...); }, fields);
  return record;
}

}  // namespace voduzazi
