#include "voduzazi/helpers/http_fields_helpers.hpp"

#include <vector>

namespace voduzazi {
namespace {

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string_view::npos;) {
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace

HTTPFields makeHTTPFields(const HeaderDictionary& dictionary) {
  HTTPFields fields;
  for (const auto& [name, value] : dictionary)
    fields.append(HTTPField(HTTPField::Name(name), value));
  return fields;
}

HeaderDictionary dictionary(const HTTPFields& fields) {
  HeaderDictionary result;
  for (const HTTPField& field : fields) {
    auto [entry, inserted] = result.try_emplace(field.name().rawName(), field.value());
    if (!inserted) {
      entry->second += field.name() == HTTPField::Name::cookie ? "; " : ", ";
      entry->second += field.value();
    }
  }
  return result;
}

void merge(HTTPFields& fields, const HTTPFields& other) {
  // A cheap copy-on-write snapshot: `other` may be `fields` itself, which set() changes.
  const HTTPFields source = other;
  for (const HTTPField& field : source) fields.set(field.name(), field.value());
}

HTTPFields merging(const HTTPFields& fields, const HTTPFields& other) {
  HTTPFields copy = fields;
  merge(copy, other);
  return copy;
}

void appendOrUpdate(HTTPFields& fields, const HTTPField::Name& name, std::string_view value,
                    std::string_view separator) {
  const std::optional<std::string> current = fields.get(name);
  if (!current) {
    fields.set(name, value);
    return;
  }
  std::vector<std::string_view> items = split(*current, separator);
  const std::size_t firstKeyEnd = value.find_first_not_of('=');
  const bool hasKey = firstKeyEnd != std::string_view::npos;
  bool replaced = false;
  if (hasKey) {
    const std::size_t keyEnd = value.find('=', firstKeyEnd);
    const std::string prefix = std::string(value.substr(firstKeyEnd, keyEnd - firstKeyEnd)) + "=";
    for (std::string_view& item : items) {
      if (item.starts_with(prefix)) {
        item = value;
        replaced = true;
        break;
      }
    }
  }
  if (!replaced) items.push_back(value);
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += separator;
    joined += items[i];
  }
  fields.set(name, joined);
}

}  // namespace voduzazi
