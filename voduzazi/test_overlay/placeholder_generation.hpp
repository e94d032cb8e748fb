// Placeholder generation: a default value for a result type known at compile time, tried in a
// fixed order (a default-constructible table, the empty tuple, empty collections, zero, literal
// values, raw values, the first case, the empty optional). Throws PlaceholderGenerationFailure
// when no way applies.
//
//   int zero = test_overlay::generatePlaceholder<int>();                // 0
//   auto none = test_overlay::generatePlaceholder<std::optional<User>>();  // std::nullopt
//   template <> struct test_overlay::CaseIterable<Color> {
//     static std::vector<Color> allCases() { return {Color::red, Color::green}; }
//   };
#pragma once

#include <boost/url/url.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <chrono>
#include <concepts>
#include <exception>
#include <initializer_list>
#include <optional>
#include <ranges>
#include <tuple>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/is_optional.hpp"

namespace voduzazi::test_overlay {

class PlaceholderGenerationFailure : public std::exception {
 public:
  const char* what() const noexcept override { return "PlaceholderGenerationFailure()"; }
};

// Types with a fixed placeholder: specialise with `static T make()`.
template <class T>
struct DefaultInitializable;

// Enumerations with raw values: specialise with `using RawValue = ...;` and
// `static std::optional<T> fromRawValue(const RawValue&)`.
template <class T>
struct RawRepresentable;

// Enumerations whose cases can be listed: specialise with `static std::vector<T> allCases()`
// (any range of T will do).
template <class T>
struct CaseIterable;

// A default value of T, or absent when no rule of the table applies.
template <class T>
std::optional<T> defaultValue();

// defaultValue, then a value from the default raw value, then the first case, then the empty
// optional. Throws PlaceholderGenerationFailure otherwise.
template <class T>
T generatePlaceholder();

// The table's entries whose value the general rules would not give.
template <>
struct DefaultInitializable<char> {
  static char make() { return ' '; }
};
template <>
struct DefaultInitializable<std::string_view> {
  static std::string_view make() { return {}; }
};
template <class Clock, class Duration>
struct DefaultInitializable<std::chrono::time_point<Clock, Duration>> {
  static std::chrono::time_point<Clock, Duration> make() {
    return std::chrono::time_point_cast<Duration>(Clock::now());
  }
};
template <class T>
struct DefaultInitializable<AsyncStream<T>> {
  static AsyncStream<T> make() { return AsyncStream<T>::finished(); }
};
template <class T>
struct DefaultInitializable<AsyncThrowingStream<T>> {
  static AsyncThrowingStream<T> make() {
    return AsyncThrowingStream<T>::finished(std::make_exception_ptr(CancellationError()));
  }
};
template <>
struct DefaultInitializable<boost::uuids::uuid> {
  static boost::uuids::uuid make() { return boost::uuids::random_generator()(); }
};
template <>
struct DefaultInitializable<boost::urls::url> {
  static boost::urls::url make() { return boost::urls::url("/"); }
};

namespace detail {


template <class T>
concept HasDefault = requires {
  { DefaultInitializable<T>::make() } -> std::convertible_to<T>;
};
template <class T>
concept HasRawValue = requires(const typename RawRepresentable<T>::RawValue& raw) {
  { RawRepresentable<T>::fromRawValue(raw) } -> std::convertible_to<std::optional<T>>;
};
template <class T>
concept HasCases = requires {
  CaseIterable<T>::allCases();
};

template <class T>
concept RangeReplaceable = std::ranges::range<T> && std::default_initializable<T> &&
    requires(T& t) {
  t.clear();
};
template <class T>
concept AdditiveArithmetic = std::is_arithmetic_v<T> || requires {
  { T::zero() } -> std::convertible_to<T>;
};
template <class T>
concept ArrayLiteral = requires {
  typename T::value_type;
}
&&std::is_constructible_v<T, std::initializer_list<typename T::value_type>>;
template <class T>
concept DictionaryLiteral = requires {
  typename T::key_type;
  typename T::mapped_type;
}
&&std::is_constructible_v<
    T, std::initializer_list<std::pair<const typename T::key_type, typename T::mapped_type>>>;

}  // namespace detail

template <class T>
std::optional<T> defaultValue() {
  if constexpr (voduzazi::detail::IsOptional<T>::value) {
    return std::nullopt;  // optionals have no default value; generation makes them empty
  } else if constexpr (detail::HasDefault<T>) {
    return DefaultInitializable<T>::make();
  } else if constexpr (std::is_same_v<T, std::tuple<>>) {
    return T();
  } else if constexpr (detail::RangeReplaceable<T>) {
    return T();
  } else if constexpr (detail::AdditiveArithmetic<T>) {
    if constexpr (std::is_arithmetic_v<T>) {
      return T(0);
    } else {
      return T::zero();
    }
  } else if constexpr (detail::ArrayLiteral<T>) {
    return T(std::initializer_list<typename T::value_type>{});
  } else if constexpr (std::is_convertible_v<bool, T>) {
    return T(false);
  } else if constexpr (detail::DictionaryLiteral<T>) {
    return T();
  } else if constexpr (std::is_convertible_v<double, T>) {
    return T(0.0);
  } else if constexpr (std::is_convertible_v<int, T>) {
    return T(0);
  } else if constexpr (std::is_convertible_v<const char*, T>) {
    return T(" ");
  } else {
    return std::nullopt;
  }
}

template <class T>
T generatePlaceholder() {
  if constexpr (std::is_void_v<T>) {
    return;
  } else if constexpr (std::is_reference_v<T>) {
    throw PlaceholderGenerationFailure();
  } else {
    if (auto value = defaultValue<T>()) return std::move(*value);
    if constexpr (detail::HasRawValue<T>) {
      using RawValue = typename RawRepresentable<T>::RawValue;
      if (auto raw = defaultValue<RawValue>()) {
        if (auto value = RawRepresentable<T>::fromRawValue(*raw)) return std::move(*value);
      }
    }
    if constexpr (detail::HasCases<T>) {
      for (auto&& first : CaseIterable<T>::allCases()) return first;
    }
    if constexpr (voduzazi::detail::IsOptional<T>::value) return T();
    throw PlaceholderGenerationFailure();
  }
}

}  // namespace voduzazi::test_overlay
