#include "voduzazi/helpers/json_coders.hpp"

#include <chrono>
#include <cmath>

#include "voduzazi/helpers/detail/json_parser.hpp"
#include "voduzazi/helpers/detail/json_writer.hpp"
#include "voduzazi/helpers/detail/key_case.hpp"

namespace voduzazi {
namespace {

// 2001-01-01T00:00:00Z, the origin of the plain coders' dates.
constexpr Date referenceDate{std::chrono::seconds(978307200)};

// Rebuilds every object of the tree with converted keys (nested objects included, as the key
// strategies apply to every level).
template <class Convert>
boost::json::value convertTree(boost::json::value json, const Convert& convert) {
  if (json.is_array()) {
    for (auto& item : json.get_array()) item = convertTree(std::move(item), convert);
  } else if (json.is_object()) {
    boost::json::object converted;
    for (auto& member : json.get_object()) {
      converted[convert(member.key())] = convertTree(std::move(member.value()), convert);
    }
    return converted;
  }
  return json;
}

}  // namespace

Data JSONEncoder::write(const boost::json::value& json) const {
  return detail::writeJSON(json, {outputFormatting.prettyPrinted, outputFormatting.sortedKeys});
}

boost::json::value JSONEncoder::convertKeys(boost::json::value json) const {
  return convertTree(std::move(json), detail::toSnakeCase);
}

boost::json::value JSONDecoder::convertKeys(boost::json::value json) const {
  return convertTree(std::move(json), detail::fromSnakeCase);
}

boost::json::value JSONDecoder::parse(std::string_view data) {
  boost::system::error_code error;
  boost::json::value json = detail::parseJSON(data, error);
  if (error) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        "The given data was not valid JSON.");
  }
  return json;
}

std::string JSONEncoder::codingKey(std::string_view key) const {
  if (keyEncodingStrategy == KeyEncodingStrategy::useDefaultKeys) return std::string(key);
  return detail::toSnakeCase(key);
}

boost::json::value JSONEncoder::encodeDate(Date date) const {
  if (dateEncodingStrategy == DateCodingStrategy::sdkDate) return encodeSDKDate(date);
  // The nanosecond difference overflows 64 bits for dates before 1708; a long double holds it
  // exactly, and rounds to the same double.
  const auto count = [](Date point) {
    return static_cast<long double>(point.time_since_epoch().count());
  };
  return static_cast<double>(count(date) - count(referenceDate)) / 1e9;
}

std::string JSONDecoder::codingKey(std::string_view key) const {
  if (keyDecodingStrategy == KeyDecodingStrategy::useDefaultKeys) return std::string(key);
  return detail::fromSnakeCase(key);
}

Date JSONDecoder::decodeDate(const boost::json::value& json, const CodingPath& codingPath) const {
  if (dateDecodingStrategy == DateCodingStrategy::sdkDate) return decodeSDKDate(json, codingPath);
  if (json.is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, codingPath,
                        "Expected Double value but found null instead.");
  }
  if (!json.is_number()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, codingPath,
                        "Expected to decode Double but found another type instead.");
  }
  const double seconds = json.to_number<double>();
  // Date counts nanoseconds in 64 bits (the years 1678 to 2261): anything past that, less a
  // second of margin, would overflow.
  using Seconds = std::chrono::duration<double>;
  const double origin = Seconds(referenceDate.time_since_epoch()).count();
  const double first = Seconds(Date::min().time_since_epoch()).count() - origin + 1;
  const double last = Seconds(Date::max().time_since_epoch()).count() - origin - 1;
  if (!std::isfinite(seconds) || seconds < first || seconds > last) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, codingPath, "Date is out of range.");
  }
  // A double near today's dates holds about a tenth of a microsecond, so dates are read to the
  // microsecond: what was written reads back equal.
  // Added in microseconds, as the offset alone may exceed the nanosecond range.
  const auto microseconds = std::chrono::microseconds(std::llround(seconds * 1e6));
  const auto reference = std::chrono::time_point_cast<std::chrono::microseconds>(referenceDate);
  return std::chrono::time_point_cast<Date::duration>(reference + microseconds);
}

std::shared_ptr<JSONEncoder> makeVoduzaziEncoder() {
  auto encoder = std::make_shared<JSONEncoder>();
  encoder->dateEncodingStrategy = DateCodingStrategy::sdkDate;
  return encoder;
}

std::shared_ptr<JSONDecoder> makeVoduzaziDecoder() {
  auto decoder = std::make_shared<JSONDecoder>();
  decoder->dateDecodingStrategy = DateCodingStrategy::sdkDate;
  return decoder;
}

}  // namespace voduzazi
