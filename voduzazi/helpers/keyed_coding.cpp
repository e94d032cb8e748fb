#include "voduzazi/helpers/keyed_coding.hpp"

#include <array>
#include <boost/url/parse.hpp>

namespace voduzazi {
namespace detail {
namespace {

std::string_view kindName(const boost::json::value& json) {
  switch (json.kind()) {
    case boost::json::kind::null:
      return "null";
    case boost::json::kind::bool_:
      return "a boolean";
    case boost::json::kind::int64:
    case boost::json::kind::uint64:
    case boost::json::kind::double_:
      return "a number";
    case boost::json::kind::string:
      return "a string";
    case boost::json::kind::array:
      return "an array";
    case boost::json::kind::object:
      return "a dictionary";
  }
  return "a value";
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

DecodingError typeMismatch(const CodingPath& path, std::string_view expected,
                           const boost::json::value& found) {
  return DecodingError(DecodingError::Kind::typeMismatch, path,
                       "Expected to decode " + std::string(expected) + " but found " +
                           std::string(kindName(found)) + " instead.");
}

DecodingError valueNotFound(const CodingPath& path, std::string_view expected) {
  return DecodingError(DecodingError::Kind::valueNotFound, path,
                       "Expected " + std::string(expected) + " but found null instead.");
}

std::string uuidString(const boost::uuids::uuid& uuid) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += digits[uuid.data[i] >> 4];
    text += digits[uuid.data[i] & 0x0F];
  }
  return text;
}

std::optional<boost::uuids::uuid> uuidFromString(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  boost::uuids::uuid uuid{};
  std::size_t byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uuid.data[byte++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  return uuid;
}

CodingPath appendingKey(const CodingPath& path, std::string_view key) {
  CodingPath result = path;
  result.emplace_back(key);
  return result;
}

CodingPath appendingIndex(const CodingPath& path, std::size_t index) {
  CodingPath result = path;
  result.push_back("Index " + std::to_string(index));
  return result;
}

std::optional<boost::urls::url> urlFromString(std::string_view text) {
  auto parsed = boost::urls::parse_uri_reference(text);
  if (!parsed || text.empty()) return std::nullopt;
  return boost::urls::url(*parsed);
}

}  // namespace detail

KeyedDecoder::KeyedDecoder(const boost::json::value& json, const JSONDecoder& decoder,
                           CodingPath path)
    : decoder_(decoder), path_(std::move(path)) {
  if (!json.is_object()) throw detail::typeMismatch(path_, "Dictionary", json);
  const auto& object = json.get_object();
  members_.reserve(object.size());
  for (const auto& member : object) {
    members_.emplace_back(decoder_.codingKey(member.key()), &member.value());
  }
}

const boost::json::value* KeyedDecoder::find(std::string_view key) const {
  for (const auto& [name, value] : members_) {
    if (name == key) return value;
  }
  return nullptr;
}

}  // namespace voduzazi
