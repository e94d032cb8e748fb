// VoduzaziLogLevel and VoduzaziLogMessage: one log record, its one-line text form and its JSON
// form.
//
//   VoduzaziLogMessage message{"auth", VoduzaziLogLevel::warning, "x", "auth/auth_client.cpp",
//                              "signOut", 7, 1709622489.123, {}};
//   message.description();
//   // 2024-03-05T07:08:09.123 [warning] [auth] [auth/auth_client.signOut:7] x
#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi {

// Coded as its number. Unordered: loggers decide what to keep.
enum class VoduzaziLogLevel { verbose = 0, debug = 1, warning = 2, error = 3 };

// "verbose", "debug", "warning" or "error".
std::string_view toString(VoduzaziLogLevel level);
// The level of a raw value 0 to 3; nothing for any other number.
std::optional<VoduzaziLogLevel> logLevelFromRawValue(std::int64_t rawValue);

struct VoduzaziLogMessage {
  std::string system;  // the logging module: the file ID up to its first "/"
  VoduzaziLogLevel level = VoduzaziLogLevel::verbose;
  std::string message;
  std::string fileID;  // folder and file name, e.g. "helpers/logger_interceptor.cpp"
  std::string function;
  std::uint32_t line = 0;
  double timestamp = 0;  // seconds since 1970-01-01 00:00 UTC
  JSONObject additionalContext;

  // The log line: time, level, system, file without extension, function, line and message;
  // then, with a context, a second line "context: [...]".
  std::string description() const;

  // An object with the eight keys in field order.
  boost::json::value toJSON() const;
  // Throws DecodingError for a missing key, a wrong type or a level outside 0 to 3.
  static VoduzaziLogMessage fromJSON(const boost::json::value& json,
                                     const http_types::CodingPath& codingPath = {});

  friend bool operator==(const VoduzaziLogMessage&, const VoduzaziLogMessage&) = default;
};

}  // namespace voduzazi
