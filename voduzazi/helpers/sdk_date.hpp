// The library's date format: dates travel as ISO 8601 text in UTC, written with milliseconds and
// no zone designator ("2024-03-05T07:08:09.123"), read with 0 to 9 fraction digits and an
// optional zone ("Z", "+hh:mm" or "+hhmm", which is applied).
//
//   auto when = sdkDate("2025-10-21T08:00:00.123456+02:00");   // 06:00:00.123456 UTC
//   std::string text = sdkDateString(*when);                   // "2025-10-21T06:00:00.123"
//   boost::json::value json = encodeSDKDate(*when);
//   Date back = decodeSDKDate(json);                           // throws DecodingError
#pragma once

#include <boost/json/value.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/http_types/decoding_error.hpp"

namespace voduzazi {

using Date = std::chrono::system_clock::time_point;

// The date `text` denotes, or nothing when it is not "yyyy-MM-ddTHH:mm:ss" with an optional
// fraction of 1 to 9 digits and an optional zone designator, or when the date lies outside what
// Date holds (about 1678 to 2261). Precision is kept to nanoseconds.
std::optional<Date> sdkDate(std::string_view text);

// "yyyy-MM-ddTHH:mm:ss.SSS" in UTC; the fraction is truncated to milliseconds.
std::string sdkDateString(Date date);

// The date as a JSON string in the form of sdkDateString.
boost::json::value encodeSDKDate(Date date);

// Reads a date from a JSON string. Throws DecodingError: valueNotFound for null, typeMismatch for
// any other non-string, dataCorrupted "Invalid date format: <text>" for a string of another form
// and dataCorrupted "Date out of range: <text>" for a date Date cannot hold ("9999-12-31...").
Date decodeSDKDate(const boost::json::value& json, const http_types::CodingPath& codingPath = {});

}  // namespace voduzazi
