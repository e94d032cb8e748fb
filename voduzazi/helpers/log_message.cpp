#include "voduzazi/helpers/log_message.hpp"

#include <boost/json/object.hpp>
#include <chrono>
#include <cmath>

#include "voduzazi/helpers/detail/json_writer.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi {
namespace {

using http_types::CodingPath;
using http_types::DecodingError;

const boost::json::value& member(const boost::json::object& object, std::string_view key,
                                 const CodingPath& path) {
  const boost::json::value* value = object.if_contains(key);
  if (!value) {
    throw DecodingError(DecodingError::Kind::keyNotFound, path,
                        "No value associated with key \"" + std::string(key) + "\".");
  }
  return *value;
}

CodingPath childPath(const CodingPath& path, std::string_view key) {
  CodingPath child = path;
  child.emplace_back(key);
  return child;
}

[[noreturn]] void mismatch(const CodingPath& path, std::string_view expected) {
  throw DecodingError(
      DecodingError::Kind::typeMismatch, path,
      "Expected to decode " + std::string(expected) + " but found another type instead.");
}

std::string stringMember(const boost::json::object& object, std::string_view key,
                         const CodingPath& path) {
  const boost::json::value& value = member(object, key, path);
  if (!value.is_string()) mismatch(childPath(path, key), "String");
  return std::string(value.get_string());
}

std::optional<std::int64_t> integral(const boost::json::value& value) {
  if (value.is_int64()) return value.get_int64();
  if (value.is_uint64() && value.get_uint64() <= static_cast<std::uint64_t>(INT64_MAX)) {
    return static_cast<std::int64_t>(value.get_uint64());
  }
  return std::nullopt;
}

}  // namespace

std::string_view toString(VoduzaziLogLevel level) {
  switch (level) {
    case VoduzaziLogLevel::verbose:
      return "verbose";
    case VoduzaziLogLevel::debug:
      return "debug";
    case VoduzaziLogLevel::warning:
      return "warning";
    case VoduzaziLogLevel::error:
      return "error";
  }
  return "verbose";
}

std::optional<VoduzaziLogLevel> logLevelFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 3) return std::nullopt;
  return static_cast<VoduzaziLogLevel>(rawValue);
}

std::string VoduzaziLogMessage::description() const {
  // Rounded to microseconds first: a double's error must not turn .123 into .122.
  const auto time = std::chrono::system_clock::time_point(
      std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(timestamp)));
  std::string_view file = fileID;
  if (const std::size_t dot = file.find('.'); dot != std::string_view::npos && dot > 0) {
    file = file.substr(0, dot);
  }
  std::string line = sdkDateString(time) + " [" + std::string(toString(level)) + "] [" + system +
                     "] [" + std::string(file) + "." + function + ":" + std::to_string(this->line) +
                     "] " + message;
  if (additionalContext.empty()) return line;
  line += "\ncontext: [";
  bool first = true;
  for (const auto& [key, value] : additionalContext) {
    if (!first) line += ", ";
    first = false;
    line += detail::writeJSON(boost::json::string(key)) + ": " + value.description();
  }
  return line + "]";
}

boost::json::value VoduzaziLogMessage::toJSON() const {
  boost::json::object object;
  object["system"] = system;
  object["level"] = static_cast<std::int64_t>(level);
  object["message"] = message;
  object["fileID"] = fileID;
  object["function"] = function;
  object["line"] = static_cast<std::uint64_t>(line);
  object["timestamp"] = timestamp;
  object["additionalContext"] = AnyJSON(additionalContext).toJSON();
  return object;
}

VoduzaziLogMessage VoduzaziLogMessage::fromJSON(const boost::json::value& json,
                                                const CodingPath& path) {
  const boost::json::object* object = json.if_object();
  if (!object) mismatch(path, "Dictionary<String, Any>");
  VoduzaziLogMessage result;
  result.system = stringMember(*object, "system", path);

  const auto rawLevel = integral(member(*object, "level", path));
  if (!rawLevel) mismatch(childPath(path, "level"), "Int");
  const auto level = logLevelFromRawValue(*rawLevel);
  if (!level) {
    throw DecodingError(
        DecodingError::Kind::dataCorrupted, childPath(path, "level"),
        "Cannot initialize VoduzaziLogLevel from invalid Int value " + std::to_string(*rawLevel));
  }
  result.level = *level;
  result.message = stringMember(*object, "message", path);
  result.fileID = stringMember(*object, "fileID", path);
  result.function = stringMember(*object, "function", path);

  const auto line = integral(member(*object, "line", path));
  if (!line || *line < 0 || *line > UINT32_MAX) mismatch(childPath(path, "line"), "UInt");
  result.line = static_cast<std::uint32_t>(*line);

  const boost::json::value& timestamp = member(*object, "timestamp", path);
  if (!timestamp.is_number()) mismatch(childPath(path, "timestamp"), "Double");
  result.timestamp = timestamp.to_number<double>();

  const boost::json::value& context = member(*object, "additionalContext", path);
  if (!context.is_object()) mismatch(childPath(path, "additionalContext"), "Dictionary");
  result.additionalContext = *AnyJSON::fromJSON(context).objectValue();
  return result;
}

}  // namespace voduzazi
