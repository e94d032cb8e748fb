// Reduces a kernel release text to major.minor.patch.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voduzazi::detail {

// "6.1.0-18-amd64" gives "6.1.0", "5.15" gives "5.15.0"; absent when the text does not start
// with a number.
std::optional<std::string> majorMinorPatch(std::string_view release);

}  // namespace voduzazi::detail
