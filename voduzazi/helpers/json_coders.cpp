#include "voduzazi/helpers/json_coders.hpp"

#include "voduzazi/helpers/detail/json_parser.hpp"
#include "voduzazi/helpers/detail/json_writer.hpp"
#include "voduzazi/helpers/detail/key_case.hpp"

namespace voduzazi {
namespace {

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

std::shared_ptr<JSONEncoder> makeVoduzaziEncoder() { return std::make_shared<JSONEncoder>(); }

std::shared_ptr<JSONDecoder> makeVoduzaziDecoder() { return std::make_shared<JSONDecoder>(); }

}  // namespace voduzazi
