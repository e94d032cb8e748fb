// Enumerations with raw string values: each names its strings once, in case order, and gets
// toString, fromString (exact, case-sensitive) and the list of its cases.
//
//   template <> struct RawValues<Color> {
//     static constexpr std::array<std::string_view, 2> values{"red", "dark_blue"};
//   };
//   std::string_view text = toString(Color::darkBlue);        // "dark_blue"
//   for (Color color : allCases<Color>()) ...;
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace voduzazi::auth {

template <class E>
struct RawValues;

template <class E>
concept HasRawValues = requires {
  RawValues<E>::values;
};

template <HasRawValues E>
constexpr std::string_view toString(E value) {
  return RawValues<E>::values[static_cast<std::size_t>(value)];
}

// True and `out` set when `text` is exactly one of the raw values; `out` untouched otherwise.
template <HasRawValues E>
constexpr bool fromString(std::string_view text, E& out) {
  const auto& values = RawValues<E>::values;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == text) {
      out = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

template <HasRawValues E>
constexpr auto allCases() {
  std::array<E, RawValues<E>::values.size()> cases{};
  for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = static_cast<E>(i);
  return cases;
}

}  // namespace voduzazi::auth
