#include "voduzazi/http_types/http_fields.hpp"

#include <boost/json/array.hpp>

#include "voduzazi/http_types/detail/contract.hpp"
#include "voduzazi/http_types/detail/copy_on_write.hpp"
#include "voduzazi/http_types/detail/hasher.hpp"
#include "voduzazi/http_types/detail/http_fields_storage.hpp"
#include "voduzazi/http_types/detail/json_coding.hpp"

namespace voduzazi::http_types {

using detail::HTTPFieldsStorage;

HTTPFields::HTTPFields() : storage_(std::make_shared<HTTPFieldsStorage>()) {}

HTTPFields::HTTPFields(std::initializer_list<std::pair<HTTPField::Name, std::string_view>> fields)
    : HTTPFields() {
  storage_->reserve(fields.size());
  for (const auto& [name, value] : fields) storage_->appendField(HTTPField(name, value));
}

HTTPFields::HTTPFields(std::span<const HTTPField> fields) : HTTPFields() {
  storage_->replaceSubrange(0, 0, fields);
}

const HTTPFieldsStorage& HTTPFields::storage() const noexcept {
  if (storage_) return *storage_;
  static const HTTPFieldsStorage movedFrom;
  return movedFrom;
}

HTTPFieldsStorage& HTTPFields::uniqueStorage() {
  if (!storage_) {
    storage_ = std::make_shared<HTTPFieldsStorage>();
  } else if (!detail::isUniquelyReferenced(storage_)) {
    storage_ = storage_->makeCopy();
  }
  return *storage_;
}

// --- Positional access

std::size_t HTTPFields::size() const noexcept { return storage().fields().size(); }

const HTTPField& HTTPFields::operator[](std::size_t position) const {
  detail::precondition(position < size(), "HTTPFields position out of range");
  return storage().fields()[position];
}

HTTPFields::const_iterator HTTPFields::begin() const noexcept { return storage().fields().begin(); }

HTTPFields::const_iterator HTTPFields::end() const noexcept { return storage().fields().end(); }

void HTTPFields::set(std::size_t position, HTTPField field) {
  if ((*this)[position] == field) return;
  uniqueStorage().replaceField(position, std::move(field));
}

void HTTPFields::append(HTTPField field) { uniqueStorage().appendField(std::move(field)); }

void HTTPFields::insert(std::size_t position, HTTPField field) {
  replaceSubrange(position, position, std::span<const HTTPField>(&field, 1));
}

void HTTPFields::replaceSubrange(std::size_t first, std::size_t last,
                                 std::span<const HTTPField> fields) {
  detail::precondition(first <= last && last <= size(), "HTTPFields range out of bounds");
  uniqueStorage().replaceSubrange(first, last, fields);
}

HTTPField HTTPFields::erase(std::size_t position) {
  HTTPField removed = (*this)[position];
  removePositions({position});
  return removed;
}

void HTTPFields::erase(std::size_t first, std::size_t last) { replaceSubrange(first, last, {}); }

void HTTPFields::removePositions(const std::vector<std::size_t>& positions) {
  if (positions.empty()) return;
  uniqueStorage().removePositions(positions);
}

void HTTPFields::removeAll(bool keepingCapacity) {
  if (!keepingCapacity) {
    storage_ = std::make_shared<HTTPFieldsStorage>();
  } else if (!empty()) {
    uniqueStorage().replaceSubrange(0, size(), {});
  }
}

void HTTPFields::reserve(std::size_t capacity) { uniqueStorage().reserve(capacity); }

// --- Comparison, hashing, printing

bool operator==(const HTTPFields& left, const HTTPFields& right) {
  const HTTPFieldsStorage& leftStorage = left.storage();
  const HTTPFieldsStorage& rightStorage = right.storage();
  const detail::FieldIndex& leftIndex = leftStorage.builtIndex();
  const detail::FieldIndex& rightIndex = rightStorage.builtIndex();
  if (leftIndex.size() != rightIndex.size()) return false;
  for (const auto& [name, leftEntry] : leftIndex) {
    const auto rightEntry = rightIndex.find(name);
    if (rightEntry == rightIndex.end()) return false;
    std::uint16_t l = leftEntry.first;
    std::uint16_t r = rightEntry->second.first;
    for (; l != detail::endOfChain && r != detail::endOfChain;
         l = leftStorage.nextInChain(l), r = rightStorage.nextInChain(r)) {
      if (!(leftStorage.fields()[l] == rightStorage.fields()[r])) return false;
    }
    if (l != r) return false;  // one chain is longer
  }
  return true;
}

std::size_t HTTPFields::hashValue() const {
  // Each name's chain is hashed in order; the chains are summed so that the interleaving of
  // different names does not count, as in equality.
  std::uint64_t sum = 0;
  const HTTPFieldsStorage& fields = storage();
  for (const auto& [name, entry] : fields.builtIndex()) {
    detail::Hasher chain;
    for (std::uint16_t position = entry.first; position != detail::endOfChain;
         position = fields.nextInChain(position)) {
      chain.combine(static_cast<std::uint64_t>(fields.fields()[position].hashValue()));
    }
    sum += detail::Hasher::mix(chain.finalize());
  }
  detail::Hasher hasher;
  hasher.combine(static_cast<std::uint64_t>(size()));
  hasher.combine(sum);
  return hasher.finalize();
}

std::string HTTPFields::debugDescription() const {
  const HTTPFieldsStorage& fields = storage();
  fields.builtIndex();  // the links mean something only once the index is built
  std::string text = "[";
  for (std::size_t position = 0; position < fields.fields().size(); ++position) {
    if (position > 0) text += ", ";
    text += "(field: " + fields.fields()[position].description() +
            ", next: " + std::to_string(fields.nextInChain(position)) + ")";
  }
  return text + "]";
}

// --- Coding

boost::json::value HTTPFields::toJSON() const {
  boost::json::array array;
  array.reserve(size());
  for (const HTTPField& field : *this) array.push_back(field.toJSON());
  return array;
}

HTTPFields HTTPFields::fromJSON(const boost::json::value& json, const CodingPath& codingPath) {
  const auto& array = detail::asArray(json, codingPath);
  if (array.size() > detail::maxFieldCount) {
    throw detail::dataCorrupted(codingPath, "HTTP field list holds more than 65534 fields");
  }
  HTTPFields fields;
  fields.storage_->reserve(array.size());
  for (std::size_t i = 0; i < array.size(); ++i) {
    HTTPField field = HTTPField::fromJSON(array[i], detail::appendingIndex(codingPath, i));
    if (field.name().rawName().front() == ':') {
      throw detail::dataCorrupted(codingPath, "Pseudo header field \"" + field.name().rawName() +
                                                  ": " + field.value() + "\" disallowed");
    }
    fields.storage_->appendField(std::move(field));
  }
  return fields;
}

}  // namespace voduzazi::http_types
