// Raw string values of the auth enumerations: one table per enumeration, indexed by case.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace voduzazi::auth::detail {

template <class E, std::size_t N>
constexpr std::string_view rawValue(E value, const std::array<std::string_view, N>& table) {
  return table[static_cast<std::size_t>(value)];
}

// Exact, case-sensitive match; `out` is left alone when nothing matches.
template <class E, std::size_t N>
constexpr bool parseRawValue(std::string_view text, E& out,
                             const std::array<std::string_view, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i] == text) {
      out = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

}  // namespace voduzazi::auth::detail
