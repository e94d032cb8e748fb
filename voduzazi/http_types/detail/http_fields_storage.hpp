// The shared storage under HTTPFields: fields in order, per-name chains of positions and a
// lazily built index from canonical name to the first and last position of its chain.
//
//   auto storage = std::make_shared<detail::HTTPFieldsStorage>();
//   storage->appendField(HTTPField(HTTPField::Name::accept, "*/*"));
//   storage->forEachInChain("accept", [&](std::size_t position) { use(position); });
//   auto copy = storage->makeCopy();  // before changing a storage that is shared
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "voduzazi/http_types/http_field.hpp"

namespace voduzazi::http_types::detail {

inline constexpr std::uint16_t endOfChain = 0xFFFF;
// Positions are 16-bit and 0xFFFF marks the end of a chain.
inline constexpr std::size_t maxFieldCount = 65534;

struct IndexEntry {
  std::uint16_t first;
  std::uint16_t last;
};

struct CanonicalNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept {
    return std::hash<std::string_view>{}(name);
  }
};

using FieldIndex = std::unordered_map<std::string, IndexEntry, CanonicalNameHash, std::equal_to<>>;

// Thread safety: a storage shared by several HTTPFields values may be read from any number of
// threads (the index is built once, under the storage's own mutex); only a storage that no
// other value sees may be changed. Lifetime: owned through shared_ptr by the values sharing it.
class HTTPFieldsStorage {
 public:
  HTTPFieldsStorage() : index_(std::in_place) {}
  HTTPFieldsStorage(const HTTPFieldsStorage&) = delete;
  HTTPFieldsStorage& operator=(const HTTPFieldsStorage&) = delete;

  // Same fields, links and index (present or absent), copied under this storage's lock.
  std::shared_ptr<HTTPFieldsStorage> makeCopy() const;

  const std::vector<HTTPField>& fields() const noexcept { return fields_; }

  // The index, built first when absent. Once present on a shared storage it never changes, so
  // the reference and the chain links stay valid while the storage is shared.
  const FieldIndex& builtIndex() const;

  // Calls `visit(position)` for each field of the canonical name, in order.
  template <class Visit>
  void forEachInChain(std::string_view canonicalName, Visit&& visit) const;

  // The position after `position` in its chain, or endOfChain; valid after builtIndex().
  std::uint16_t nextInChain(std::size_t position) const noexcept { return next_[position]; }

  // --- Changes; only on a storage that no other value shares.

  // Appends at the end and keeps a present index up to date. Stops the process for a
  // pseudo-header field; throws std::length_error past maxFieldCount.
  void appendField(HTTPField field);

  // Stores `field` at `position`; a change of canonical name makes the index absent.
  void replaceField(std::size_t position, HTTPField field);

  // Replaces [first, last) with `fields`, which may view this storage's own fields.
  // Inserting at the end appends (index kept); anywhere else the index becomes absent.
  void replaceSubrange(std::size_t first, std::size_t last, std::span<const HTTPField> fields);

  // Removes the fields at the given ascending positions; the rest keep their order.
  void removePositions(std::span<const std::size_t> positions);

  void reserve(std::size_t capacity);
  void invalidateIndex() noexcept { index_.reset(); }

 private:
  std::vector<HTTPField> fields_;
  // Built together with index_ (under mutex_) and meaningful only while index_ is present.
  mutable std::vector<std::uint16_t> next_;
  mutable std::optional<FieldIndex> index_;
  mutable std::mutex mutex_;
};

// Stops the process when `field` is a pseudo-header field: those never enter HTTPFields.
void requireRegularField(const HTTPField& field) noexcept;

// Throws std::length_error when a storage would hold more than maxFieldCount fields.
void requireFieldCount(std::size_t count);

template <class Visit>
void HTTPFieldsStorage::forEachInChain(std::string_view canonicalName, Visit&& visit) const {
  const FieldIndex& index = builtIndex();
  const auto entry = index.find(canonicalName);
  if (entry == index.end()) return;
  for (std::uint16_t position = entry->second.first; position != endOfChain;
       position = next_[position]) {
    visit(static_cast<std::size_t>(position));
  }
}

}  // namespace voduzazi::http_types::detail
