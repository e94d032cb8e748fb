#include "voduzazi/http_types/detail/http_fields_storage.hpp"
#include "voduzazi/http_types/http_fields.hpp"

namespace voduzazi::http_types {
namespace {

bool isCookie(const HTTPField::Name& name) { return name.canonicalName() == "cookie"; }

// Splits at every "; ", keeping empty pieces: "a=1; " gives "a=1" and "".
std::vector<std::string_view> cookiePieces(std::string_view value) {
  constexpr std::string_view separator = "; ";
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t found = value.find(separator, start);
    if (found == std::string_view::npos) {
      pieces.push_back(value.substr(start));
      return pieces;
    }
    pieces.push_back(value.substr(start, found - start));
    start = found + separator.size();
  }
}

}  // namespace

std::optional<std::string> HTTPFields::get(const HTTPField::Name& name) const {
  const std::string_view separator = isCookie(name) ? "; " : ", ";
  const detail::HTTPFieldsStorage& fields = storage();
  std::optional<std::string> combined;
  fields.forEachInChain(name.canonicalName(), [&](std::size_t position) {
    if (combined) {
      combined->append(separator);
    } else {
      combined.emplace();
    }
    combined->append(fields.fields()[position].value());
  });
  return combined;
}

void HTTPFields::set(const HTTPField::Name& name, std::optional<std::string_view> value) {
  std::vector<HTTPField> newFields;
  if (value && isCookie(name)) {
    for (std::string_view piece : cookiePieces(*value)) newFields.emplace_back(name, piece);
  } else if (value) {
    newFields.emplace_back(name, *value);
  }
  replaceFields(name, std::move(newFields));
}

std::vector<std::string> HTTPFields::values(const HTTPField::Name& name) const {
  const detail::HTTPFieldsStorage& fields = storage();
  std::vector<std::string> result;
  fields.forEachInChain(name.canonicalName(), [&](std::size_t position) {
    result.push_back(fields.fields()[position].value());
  });
  return result;
}

void HTTPFields::setValues(const HTTPField::Name& name, const std::vector<std::string>& values) {
  std::vector<HTTPField> newFields;
  newFields.reserve(values.size());
  for (const std::string& value : values) newFields.emplace_back(name, value);
  replaceFields(name, std::move(newFields));
}

std::vector<HTTPField> HTTPFields::fields(const HTTPField::Name& name) const {
  const detail::HTTPFieldsStorage& fields = storage();
  std::vector<HTTPField> result;
  fields.forEachInChain(name.canonicalName(),
                        [&](std::size_t position) { result.push_back(fields.fields()[position]); });
  return result;
}

void HTTPFields::setFields(const HTTPField::Name& name, std::vector<HTTPField> fields) {
  replaceFields(name, std::move(fields));
}

bool HTTPFields::contains(const HTTPField::Name& name) const {
  return storage().builtIndex().contains(name.canonicalName());
}

void HTTPFields::replaceFields(const HTTPField::Name& name, std::vector<HTTPField> newFields) {
  for (const HTTPField& field : newFields) detail::requireRegularField(field);
  detail::HTTPFieldsStorage& fields = uniqueStorage();
  std::vector<std::size_t> chain;
  fields.forEachInChain(name.canonicalName(),
                        [&](std::size_t position) { chain.push_back(position); });
  detail::requireFieldCount(fields.fields().size() - chain.size() + newFields.size());

  // Overwrite the name's fields in place, so that the first keeps its position; a field of
  // another name makes the index absent (replaceField), so lookups follow the stored names.
  std::size_t used = 0;
  std::vector<std::size_t> surplus;
  for (std::size_t position : chain) {
    if (used < newFields.size()) {
      fields.replaceField(position, std::move(newFields[used++]));
    } else {
      surplus.push_back(position);
    }
  }
  fields.removePositions(surplus);
  for (; used < newFields.size(); ++used) fields.appendField(std::move(newFields[used]));
}

}  // namespace voduzazi::http_types
