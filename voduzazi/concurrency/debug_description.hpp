// debugDescription: a value as a developer reads it in a report: strings quoted and escaped,
// optionals as "Optional(x)" or "nil", tuples in parentheses, sequences in brackets.
//
//   debugDescription(std::string("a\"b"));            // "\"a\\\"b\""
//   debugDescription(std::make_tuple(42, "x"));       // (42, "x")
//   argumentsDescription();                           // ()
//   argumentsDescription(1, 2.5);                     // (1, 2.5)
#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <optional>
#include <ostream>
#include <ranges>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "voduzazi/concurrency/detail/is_optional.hpp"

namespace voduzazi {

// The text between double quotes, with \0 \t \n \r \" \' \\ escaped and other control
// characters as \u{HEX}.
std::string quotedDescription(std::string_view text);
// The demangled name of a type.
std::string typeName(const std::type_info& type);

template <class T>
std::string debugDescription(const T& value);

// The arguments of one call: "()" for none, the single value's description for one, the
// descriptions in parentheses for several.
template <class... Args>
std::string argumentsDescription(const Args&... args);

namespace detail {

template <class T>
concept TupleLike = requires {
  std::tuple_size<T>::value;
}
&&!std::ranges::range<T>;

template <class T>
concept MapLike = std::ranges::range<T> && requires {
  typename T::key_type;
  typename T::mapped_type;
};

template <class T>
concept Streamable = requires(std::ostream& out, const T& value) {
  out << value;
};

std::string floatingDescription(double value);
std::string floatingDescription(float value);
std::string floatingDescription(long double value);

template <class Tuple, std::size_t... I>
std::string tupleDescription(const Tuple& tuple, std::index_sequence<I...>) {
  std::string text = "(";
  ((text += (I == 0 ? "" : ", ") + debugDescription(std::get<I>(tuple))), ...);
  return text + ")";
}

template <class Range>
std::string sequenceDescription(const Range& range) {
  std::string text = "[";
  bool first = true;
  for (const auto& element : range) {
    if (!first) text += ", ";
    first = false;
    if constexpr (MapLike<Range>) {
      text += debugDescription(element.first) + ": " + debugDescription(element.second);
    } else {
      text += debugDescription(element);
    }
  }
  if (first && MapLike<Range>) text += ":";
  return text + "]";
}

}  // namespace detail

template <class T>
std::string debugDescription(const T& value) {
  if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    if constexpr (std::is_pointer_v<T>) {
      if (value == nullptr) return "nil";
    }
    return quotedDescription(std::string_view(value));
  } else if constexpr (std::is_same_v<T, char>) {
    return quotedDescription(std::string_view(&value, 1));
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_integral_v<T>) {
    return std::to_string(value);
  } else if constexpr (std::is_floating_point_v<T>) {
    return detail::floatingDescription(value);
  } else if constexpr (std::is_null_pointer_v<T>) {
    return "nil";
  } else if constexpr (detail::IsOptional<T>::value) {
    return value ? "Optional(" + debugDescription(*value) + ")" : "nil";
  } else if constexpr (detail::TupleLike<T>) {
    return detail::tupleDescription(value, std::make_index_sequence<std::tuple_size_v<T>>());
  } else if constexpr (std::ranges::range<const T>) {
    return detail::sequenceDescription(value);
  } else if constexpr (detail::Streamable<T>) {
    std::ostringstream out;
    out << value;
    return out.str();
  } else {
    return typeName(typeid(T));
  }
}

template <class... Args>
std::string argumentsDescription(const Args&... args) {
  if constexpr (sizeof...(Args) == 1) {
    return debugDescription(args...);
  } else {
    return detail::tupleDescription(std::forward_as_tuple(args...),
                                    std::index_sequence_for<Args...>());
  }
}

}  // namespace voduzazi
