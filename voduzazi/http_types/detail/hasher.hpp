// Order-sensitive hash combination for the message model's hashable values.
//
//   detail::Hasher hasher;
//   hasher.combine(field.name().canonicalName());
//   hasher.combine(std::uint64_t{3});
//   std::size_t hash = hasher.finalize();
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace voduzazi::http_types::detail {

class Hasher {
 public:
  explicit Hasher(std::size_t seed = 0) noexcept : state_(seed) {}

  void combine(std::string_view bytes) noexcept {
    combine(static_cast<std::uint64_t>(std::hash<std::string_view>{}(bytes)));
  }

  void combine(std::uint64_t value) noexcept {
    state_ ^= mix(value) + 0x9E3779B97F4A7C15ULL + (state_ << 6) + (state_ >> 2);
  }

  std::size_t finalize() const noexcept { return static_cast<std::size_t>(mix(state_)); }

  // A finaliser with good avalanche, so that sums of mixed values stay well spread.
  static std::uint64_t mix(std::uint64_t value) noexcept {
    value ^= value >> 30;
    value *= 0xBF58476D1CE4E5B9ULL;
    value ^= value >> 27;
    value *= 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
  }

 private:
  std::uint64_t state_;
};

}  // namespace voduzazi::http_types::detail
