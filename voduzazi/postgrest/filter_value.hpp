// PostgrestFilterValue: the text a value takes in a database filter ("eq." + text). Texts are
// written as they are, never quoted: integers in decimal, doubles in their shortest round-trip
// form keeping ".0", "true"/"false", UUIDs in upper case, dates as UTC with milliseconds and "Z",
// arrays in braces, empty optionals as "NULL", JSON objects with sorted keys and "/" unescaped.
//
//   PostgrestFilterValue(42).rawValue();                          // "42"
//   PostgrestFilterValue(std::vector<int>{1, 2}).rawValue();      // "{1,2}"
//   PostgrestFilterValue(std::optional<std::string>()).rawValue(); // "NULL"
//   // An app type becomes a filter value by specialising the traits (or with a member
//   // `std::string rawValue() const`):
//   template <> struct voduzazi::PostgrestFilterValueTraits<app::Mood> {
//     static std::string rawValue(app::Mood mood) { return app::toString(mood); }
//   };
#pragma once

#include <boost/uuid/uuid.hpp>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi {

// The customisation point: a specialisation with `static std::string rawValue(const T&)` makes T
// a filter value. The primary template has none.
template <class T>
struct PostgrestFilterValueTraits {};

// Types with a text as a filter value.
template <class T>
concept PostgrestFilterValueType = requires(const T& value) {
  { PostgrestFilterValueTraits<T>::rawValue(value) } -> std::convertible_to<std::string>;
};

// Any filter value, with its text computed once. A value type.
class PostgrestFilterValue {
 public:
  PostgrestFilterValue(const char* text) : rawValue_(text) {}
  template <PostgrestFilterValueType T>
  requires(!std::same_as<T, PostgrestFilterValue>) PostgrestFilterValue(const T& value)
      : rawValue_(PostgrestFilterValueTraits<T>::rawValue(value)) {}

  const std::string& rawValue() const noexcept { return rawValue_; }
  // The older name of the same text.
  const std::string& queryValue() const noexcept { return rawValue_; }

  friend bool operator==(const PostgrestFilterValue&, const PostgrestFilterValue&) = default;

 private:
  std::string rawValue_;
};

namespace detail {
std::string filterText(bool value);
std::string filterText(std::int64_t value);
std::string filterText(std::uint64_t value);
std::string filterText(double value);
std::string filterText(const boost::uuids::uuid& value);
std::string filterText(std::chrono::system_clock::time_point value);
std::string filterText(const AnyJSON& value);
std::string filterText(const JSONObject& value);
// "{" + the texts joined by "," + "}".
std::string braced(const std::vector<std::string>& texts);
}  // namespace detail

// The built-in filter values.

template <class T>
requires(std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
         std::is_same_v<T, const char*>) struct PostgrestFilterValueTraits<T> {
  static std::string rawValue(const T& value) { return std::string(value); }
};

template <>
struct PostgrestFilterValueTraits<bool> {
  static std::string rawValue(bool value) { return detail::filterText(value); }
};

template <std::integral T>
requires(!std::is_same_v<T, bool> &&
         !std::is_same_v<T, char>) struct PostgrestFilterValueTraits<T> {
  static std::string rawValue(T value) {
    if constexpr (std::is_signed_v<T>) {
      return detail::filterText(static_cast<std::int64_t>(value));
    } else {
      return detail::filterText(static_cast<std::uint64_t>(value));
    }
  }
};

template <std::floating_point T>
struct PostgrestFilterValueTraits<T> {
  static std::string rawValue(T value) { return detail::filterText(static_cast<double>(value)); }
};

template <>
struct PostgrestFilterValueTraits<boost::uuids::uuid> {
  static std::string rawValue(const boost::uuids::uuid& value) { return detail::filterText(value); }
};

template <class Duration>
struct PostgrestFilterValueTraits<std::chrono::time_point<std::chrono::system_clock, Duration>> {
  static std::string rawValue(std::chrono::time_point<std::chrono::system_clock, Duration> value) {
    return detail::filterText(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(value));
  }
};

template <>
struct PostgrestFilterValueTraits<AnyJSON> {
  static std::string rawValue(const AnyJSON& value) { return detail::filterText(value); }
};

template <>
struct PostgrestFilterValueTraits<JSONObject> {
  static std::string rawValue(const JSONObject& value) { return detail::filterText(value); }
};

template <>
struct PostgrestFilterValueTraits<std::nullopt_t> {
  static std::string rawValue(std::nullopt_t) { return "NULL"; }
};

template <>
struct PostgrestFilterValueTraits<std::nullptr_t> {
  static std::string rawValue(std::nullptr_t) { return "NULL"; }
};

template <PostgrestFilterValueType T>
struct PostgrestFilterValueTraits<std::optional<T>> {
  static std::string rawValue(const std::optional<T>& value) {
    return value ? PostgrestFilterValueTraits<T>::rawValue(*value) : "NULL";
  }
};

template <PostgrestFilterValueType T>
struct PostgrestFilterValueTraits<std::vector<T>> {
  static std::string rawValue(const std::vector<T>& values) {
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (const T& value : values) texts.push_back(PostgrestFilterValueTraits<T>::rawValue(value));
    return detail::braced(texts);
  }
};

// A type with a member `rawValue()` giving its text (PostgrestFilterValue itself included).
template <class T>
requires requires(const T& value) {
  { value.rawValue() } -> std::convertible_to<std::string>;
}
struct PostgrestFilterValueTraits<T> {
  static std::string rawValue(const T& value) { return std::string(value.rawValue()); }
};

}  // namespace voduzazi
