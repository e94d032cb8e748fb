// Reading bytes as UTF-8 text whatever they hold.
#pragma once

#include <string>
#include <string_view>

namespace voduzazi::realtime::detail {

// The bytes with every ill-formed sequence replaced by U+FFFD (one per maximal bad subpart).
std::string decodeUTF8Lossy(std::string_view bytes);

}  // namespace voduzazi::realtime::detail
