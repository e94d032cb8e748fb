// The JSON reader of realtime frames, shared by both clients: nesting up to kFrameMaxDepth
// levels, far beyond what real payloads reach, so that a deeply nested broadcast is delivered
// rather than taken for garbage. Other readers keep the library's usual limit.
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <string_view>

#include "voduzazi/helpers/detail/json_parser.hpp"

namespace voduzazi::realtime::detail {

inline constexpr std::size_t kFrameMaxDepth = 512;

// Null with `error` set when the text is not JSON or nests deeper than kFrameMaxDepth.
inline boost::json::value parseFrameJSON(std::string_view text, boost::system::error_code& error) {
  return voduzazi::detail::parseJSON(text, error, kFrameMaxDepth);
}

}  // namespace voduzazi::realtime::detail
