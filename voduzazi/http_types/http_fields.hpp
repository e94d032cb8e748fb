// The ordered header-field multimap that every request and response carries.
//
//   HTTPFields headers{{HTTPField::Name::accept, "application/json"}};
//   headers.set(HTTPField::Name::authorization, "Bearer " + token);   // replaces, keeps position
//   if (auto type = headers.get(HTTPField::Name::contentType)) use(*type);
//   for (const HTTPField& field : headers) send(field.name().rawName(), field.value());
//   headers.set(HTTPField::Name::cookie, std::nullopt);               // removes every cookie
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "voduzazi/http_types/decoding_error.hpp"
#include "voduzazi/http_types/http_field.hpp"

namespace voduzazi::http_types {

namespace detail {
class HTTPFieldsStorage;
}

// Fields keep the order in which they were added. Names match by their lower-case form. A
// collection holds at most 65534 fields (std::length_error past that) and never a
// pseudo-header field (a name starting with ':'; adding one stops the process).
//
// Thread safety: distinct values safe; one value may be read from many threads at once and
// copies may be changed independently (copy-on-write), but changing a value needs exclusive
// access to it. Lifetime: a value type; copies share storage until one of them changes.
class HTTPFields {
 public:
  using value_type = HTTPField;
  using size_type = std::size_t;
  using const_iterator = std::vector<HTTPField>::const_iterator;
  using iterator = const_iterator;

  HTTPFields();
  // One field per pair, in the given order; values are cleaned as HTTPField does.
  HTTPFields(std::initializer_list<std::pair<HTTPField::Name, std::string_view>> fields);
  explicit HTTPFields(std::span<const HTTPField> fields);

  // --- Positional access. A position outside [0, size()) stops the process.

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  const HTTPField& operator[](std::size_t position) const;
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept;

  // Overwrites the field at `position`; storing a field equal to the present one changes
  // nothing (the present raw name is kept).
  void set(std::size_t position, HTTPField field);
  void append(HTTPField field);
  void insert(std::size_t position, HTTPField field);
  // Replaces the fields in [first, last) with `fields`, which may view this collection itself.
  void replaceSubrange(std::size_t first, std::size_t last, std::span<const HTTPField> fields);
  // Removes and returns the field at `position`.
  HTTPField erase(std::size_t position);
  // Removes the fields in [first, last).
  void erase(std::size_t first, std::size_t last);
  // Removes every field for which `predicate(field)` is true; the rest keep their order. If
  // the predicate throws, nothing is removed. Returns the number removed.
  template <class Predicate>
  std::size_t removeIf(Predicate predicate);
  void removeAll(bool keepingCapacity = false);
  void reserve(std::size_t capacity);

  // --- Access by name.

  // The values of the name's fields joined by ", " ("; " for Cookie), or nothing when absent.
  std::optional<std::string> get(const HTTPField::Name& name) const;
  // Replaces the name's fields with one field holding `value` (a Cookie value is split at
  // "; " into one field per piece); the first field of the name keeps its position, surplus
  // ones are removed, a new name goes to the end. std::nullopt removes every field of the name.
  void set(const HTTPField::Name& name, std::optional<std::string_view> value);
  // The value of each field of the name, in order.
  std::vector<std::string> values(const HTTPField::Name& name) const;
  // Replaces the name's fields with one field per value, in order (no cookie splitting).
  void setValues(const HTTPField::Name& name, const std::vector<std::string>& values);
  std::vector<HTTPField> fields(const HTTPField::Name& name) const;
  // Replaces the name's fields with `fields` as they are.
  void setFields(const HTTPField::Name& name, std::vector<HTTPField> fields);
  bool contains(const HTTPField::Name& name) const;

  // --- Comparison, hashing, printing, coding.

  // Equal when each name has equal fields in the same order; the interleaving of different
  // names and the letter case of raw names do not count.
  friend bool operator==(const HTTPFields& left, const HTTPFields& right);
  std::size_t hashValue() const;
  // Every field with the position of the next field of its name (65535 at a chain's end).
  std::string debugDescription() const;

  // A JSON array of the fields, as HTTPField codes them.
  boost::json::value toJSON() const;
  // Throws DecodingError, also for a pseudo-header field in the list.
  static HTTPFields fromJSON(const boost::json::value& json, const CodingPath& codingPath = {});

  // Trailer fields read from the wire; throws ParsingError (parsing_error.hpp) for a
  // pseudo-header field or conflicting Content-Length, Content-Disposition or Location.
  static HTTPFields parsedTrailerFields(std::span<const HTTPField> fields);

 private:
  const detail::HTTPFieldsStorage& storage() const noexcept;
  detail::HTTPFieldsStorage& uniqueStorage();
  void replaceFields(const HTTPField::Name& name, std::vector<HTTPField> fields);
  void removePositions(const std::vector<std::size_t>& positions);

  // Null only in a moved-from value, which reads as empty.
  std::shared_ptr<detail::HTTPFieldsStorage> storage_;
};

template <class Predicate>
std::size_t HTTPFields::removeIf(Predicate predicate) {
  std::vector<std::size_t> positions;
  for (std::size_t position = 0; position < size(); ++position) {
    if (predicate((*this)[position])) positions.push_back(position);
  }
  removePositions(positions);
  return positions.size();
}

}  // namespace voduzazi::http_types

template <>
struct std::hash<voduzazi::http_types::HTTPFields> {
  std::size_t operator()(const voduzazi::http_types::HTTPFields& fields) const {
    return fields.hashValue();
  }
};
