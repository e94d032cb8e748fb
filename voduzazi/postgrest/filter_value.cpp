#include "voduzazi/postgrest/filter_value.hpp"

#include <date/date.h>

#include <boost/uuid/uuid_io.hpp>
#include <cctype>

#include "voduzazi/helpers/detail/json_writer.hpp"
#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi::detail {
namespace {

// Sorted keys, "/" unescaped, no white space.
const JSONEncoder& objectWriter() {
  static const JSONEncoder encoder = [] {
    JSONEncoder sorted;
    sorted.outputFormatting.sortedKeys = true;
    return sorted;
  }();
  return encoder;
}

}  // namespace

std::string filterText(bool value) { return value ? "true" : "false"; }

std::string filterText(std::int64_t value) { return std::to_string(value); }

std::string filterText(std::uint64_t value) { return std::to_string(value); }

std::string filterText(double value) { return formatDouble(value); }

std::string filterText(const boost::uuids::uuid& value) {
  std::string text = boost::uuids::to_string(value);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string filterText(std::chrono::system_clock::time_point value) {
  return date::format("%FT%TZ", std::chrono::floor<std::chrono::milliseconds>(value));
}

std::string filterText(const AnyJSON& value) {
  switch (value.kind()) {
    case AnyJSON::Kind::null:
      return "NULL";
    case AnyJSON::Kind::boolean:
      return filterText(*value.boolValue());
    case AnyJSON::Kind::integer:
      return filterText(*value.intValue());
    case AnyJSON::Kind::double_:
      return filterText(*value.doubleValue());
    case AnyJSON::Kind::string:
      return *value.stringValue();
    case AnyJSON::Kind::object:
      return filterText(*value.objectValue());
    case AnyJSON::Kind::array: {
      std::vector<std::string> texts;
      for (const AnyJSON& element : *value.arrayValue()) texts.push_back(filterText(element));
      return braced(texts);
    }
  }
  return {};
}

std::string filterText(const JSONObject& value) {
  try {
    return objectWriter().write(AnyJSON(value).toJSON());
  } catch (const EncodingError&) {
    // JSON has no text for a NaN or an infinite number; the filter then compares with null.
    return "null";
  }
}

std::string braced(const std::vector<std::string>& texts) {
  std::string text = "{";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) text += ',';
    text += texts[i];
  }
  return text + "}";
}

}  // namespace voduzazi::detail
