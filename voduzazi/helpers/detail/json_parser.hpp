// The library's one JSON text reader: Boost.JSON's grammar and UTF-8 checks, with every double
// read from its own text by a correctly rounded conversion, so that a written double reads back
// as the same value.
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace voduzazi::detail {

// Parses one JSON document (no comments, no trailing commas, valid UTF-8) nested at most
// `maxDepth` levels. On failure returns null and sets `error` (boost::json::error codes; a
// document nested too deeply gives error::too_deep).
boost::json::value parseJSON(std::string_view text, boost::system::error_code& error,
                             std::size_t maxDepth = 32);

}  // namespace voduzazi::detail
