// Reading coded values with errors that name the failing coding path.
//
//   const auto& object = detail::asObject(json, path);
//   std::string_view name = detail::asString(detail::requiredValue(object, "name", path),
//                                            detail::appending(path, "name"));
#pragma once

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/http_types/decoding_error.hpp"

namespace voduzazi::http_types::detail {

CodingPath appending(const CodingPath& path, std::string key);
CodingPath appendingIndex(const CodingPath& path, std::size_t index);

const boost::json::object& asObject(const boost::json::value& json, const CodingPath& path);
const boost::json::array& asArray(const boost::json::value& json, const CodingPath& path);
std::string_view asString(const boost::json::value& json, const CodingPath& path);

// The value under `key`; a missing key throws keyNotFound, null throws valueNotFound.
const boost::json::value& requiredValue(const boost::json::object& object, std::string_view key,
                                        const CodingPath& path);

// The value under `key` as an unsigned 8-bit number, or nothing when absent or null.
std::optional<unsigned char> optionalUInt8(const boost::json::object& object, std::string_view key,
                                           const CodingPath& path);

DecodingError dataCorrupted(const CodingPath& path, std::string message);

}  // namespace voduzazi::http_types::detail
