#include "voduzazi/helpers/version.hpp"

#include <sys/utsname.h>

#include <array>
#include <charconv>
#include <cstdint>

#include "voduzazi/helpers/detail/kernel_release.hpp"

namespace voduzazi {
namespace detail {

std::optional<std::string> majorMinorPatch(std::string_view release) {
  std::array<std::uint64_t, 3> parts{};
  const char* cursor = release.data();
  const char* const end = release.data() + release.size();
  for (std::size_t index = 0; index < parts.size(); ++index) {
    auto [next, error] = std::from_chars(cursor, end, parts[index]);
    if (error != std::errc()) {
      if (index == 0) return std::nullopt;
      break;
    }
    cursor = next;
    if (cursor == end || *cursor != '.') break;
    ++cursor;
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

}  // namespace detail

const std::optional<std::string>& platformVersion() {
  static const std::optional<std::string> release = []() -> std::optional<std::string> {
    utsname names{};
    if (uname(&names) != 0) return std::nullopt;
    return detail::majorMinorPatch(names.release);
  }();
  return release;
}

}  // namespace voduzazi
