#include "voduzazi/http_types/http_field.hpp"

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/json/string.hpp>

#include "voduzazi/http_types/detail/field_syntax.hpp"
#include "voduzazi/http_types/detail/hasher.hpp"
#include "voduzazi/http_types/detail/json_coding.hpp"

namespace voduzazi::http_types {
namespace {

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return result;
}

bool hasUpperCase(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string invalidNameMessage(std::string_view prefix, std::string_view name) {
  return std::string(prefix) + " \"" + std::string(name) + "\" contains invalid characters";
}

}  // namespace

InvalidFieldNameError::InvalidFieldNameError(std::string name)
    : name_(std::move(name)), message_(invalidNameMessage("HTTP field name", name_)) {}

// --- HTTPField::Name

HTTPField::Name::Name(std::string_view name) : rawName_(name), canonicalName_(lowered(name)) {
  if (!detail::isNonEmptyToken(name)) throw InvalidFieldNameError(std::string(name));
}

std::optional<HTTPField::Name> HTTPField::Name::fromString(std::string_view name) {
  if (!detail::isNonEmptyToken(name)) return std::nullopt;
  return Name(std::string(name), lowered(name));
}

std::optional<HTTPField::Name> HTTPField::Name::fromParsed(std::string_view name) {
  if (name.empty()) return std::nullopt;
  const std::string_view rest = name.front() == ':' ? name.substr(1) : name;
  if (!detail::isToken(rest) || hasUpperCase(rest)) return std::nullopt;
  return Name(std::string(name), std::string(name));
}

HTTPField::Name HTTPField::Name::wellKnown(std::string_view rawName) {
  return Name(std::string(rawName), lowered(rawName));
}

std::size_t HTTPField::Name::hashValue() const noexcept {
  detail::Hasher hasher;
  hasher.combine(canonicalName_);
  return hasher.finalize();
}

boost::json::value HTTPField::Name::toJSON() const { return boost::json::string(rawName_); }

HTTPField::Name HTTPField::Name::fromJSON(const boost::json::value& json,
                                          const CodingPath& codingPath) {
  const std::string_view name = detail::asString(json, codingPath);
  if (!name.empty() && name.front() == ':') {
    const std::string_view rest = name.substr(1);
    if (rest.empty() || hasUpperCase(rest) || !detail::isToken(rest)) {
      throw detail::dataCorrupted(codingPath, invalidNameMessage("HTTP pseudo field name", name));
    }
    return Name(std::string(name), std::string(name));
  }
  if (!detail::isNonEmptyToken(name)) {
    throw detail::dataCorrupted(codingPath, invalidNameMessage("HTTP field name", name));
  }
  return Name(std::string(name), lowered(name));
}

// --- HTTPField

HTTPField::HTTPField(Name name, std::string_view value)
    : HTTPField(std::move(name), detail::ISOLatin1String::fromOctets(
                                     detail::cleanedValueStrictly(std::string(value)))) {}

HTTPField HTTPField::withLenientValue(Name name, std::string_view octets) {
  return HTTPField(std::move(name), detail::ISOLatin1String::fromOctets(
                                        detail::cleanedValueLeniently(std::string(octets))));
}

void HTTPField::setValue(std::string_view value) {
  rawValue_ = detail::ISOLatin1String::fromOctets(detail::cleanedValueStrictly(std::string(value)));
}

bool HTTPField::isValidValue(std::string_view octets) noexcept {
  return detail::isValidFieldValue(octets);
}

std::string HTTPField::description() const { return name_.rawName() + ": " + value(); }

std::size_t HTTPField::hashValue() const noexcept {
  detail::Hasher hasher;
  hasher.combine(name_.canonicalName());
  hasher.combine(static_cast<std::uint64_t>(indexingStrategy_));
  hasher.combine(rawValue_.octets());
  return hasher.finalize();
}

boost::json::value HTTPField::toJSON() const {
  boost::json::object object;
  object["name"] = name_.toJSON();
  object["value"] = rawValue_.storedText();
  if (indexingStrategy_ != DynamicTableIndexingStrategy::automatic) {
    object["indexingStrategy"] = static_cast<std::uint64_t>(indexingStrategy_);
  }
  return object;
}

HTTPField HTTPField::fromJSON(const boost::json::value& json, const CodingPath& codingPath) {
  const auto& object = detail::asObject(json, codingPath);
  Name name = Name::fromJSON(detail::requiredValue(object, "name", codingPath),
                             detail::appending(codingPath, "name"));

  const CodingPath valuePath = detail::appending(codingPath, "value");
  const std::string_view text =
      detail::asString(detail::requiredValue(object, "value", codingPath), valuePath);
  // The rule is checked on the octets that will be stored and sent, not on the text.
  auto rawValue = detail::ISOLatin1String::fromStoredText(text);
  if (!detail::isValidFieldValue(rawValue.octets())) {
    throw detail::dataCorrupted(
        valuePath, "HTTP field value \"" + std::string(text) + "\" contains invalid characters");
  }

  HTTPField field(std::move(name), std::move(rawValue));
  const auto strategy = detail::optionalUInt8(object, "indexingStrategy", codingPath);
  if (strategy && *strategy <= static_cast<unsigned char>(DynamicTableIndexingStrategy::disallow)) {
    field.indexingStrategy_ = static_cast<DynamicTableIndexingStrategy>(*strategy);
  }
  return field;
}

}  // namespace voduzazi::http_types
