// IsOptional<T>: whether T is a std::optional, for the library's compile-time dispatch. One
// definition for every folder, so that headers of different layers can meet in one file.
#pragma once

#include <optional>
#include <type_traits>

namespace voduzazi::detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

}  // namespace voduzazi::detail
