// ASCII lower case, as the older client compares event names.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace voduzazi::realtime::detail {

inline std::string lowercased(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return lower;
}

}  // namespace voduzazi::realtime::detail
