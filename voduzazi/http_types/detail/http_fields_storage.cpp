#include "voduzazi/http_types/detail/http_fields_storage.hpp"

#include <functional>
#include <new>
#include <stdexcept>

#include "voduzazi/http_types/detail/contract.hpp"

namespace voduzazi::http_types::detail {
namespace {

bool viewsInto(std::span<const HTTPField> view, const std::vector<HTTPField>& fields) {
  const std::less<const HTTPField*> before;
  return !view.empty() && !before(view.data(), fields.data()) &&
         before(view.data(), fields.data() + fields.size());
}

}  // namespace

void requireRegularField(const HTTPField& field) noexcept {
  const std::string& rawName = field.name().rawName();
  precondition(rawName.empty() || rawName.front() != ':',
               "pseudo header field added to HTTPFields");
}

void requireFieldCount(std::size_t count) {
  if (count > maxFieldCount) throw std::length_error("HTTPFields holds at most 65534 fields");
}

std::shared_ptr<HTTPFieldsStorage> HTTPFieldsStorage::makeCopy() const {
  auto copy = std::make_shared<HTTPFieldsStorage>();
  std::lock_guard lock(mutex_);
  copy->fields_ = fields_;
  copy->next_ = next_;
  copy->index_ = index_;
  return copy;
}

const FieldIndex& HTTPFieldsStorage::builtIndex() const {
  std::lock_guard lock(mutex_);
  if (index_) return *index_;
  FieldIndex index;
  next_.assign(fields_.size(), endOfChain);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const auto position = static_cast<std::uint16_t>(i);
    const auto [entry, inserted] =
        index.try_emplace(fields_[i].name().canonicalName(), IndexEntry{position, position});
    if (!inserted) {
      next_[entry->second.last] = position;
      entry->second.last = position;
    }
  }
  index_ = std::move(index);
  return *index_;
}

void HTTPFieldsStorage::appendField(HTTPField field) {
  requireRegularField(field);
  requireFieldCount(fields_.size() + 1);
  fields_.push_back(std::move(field));
  if (!index_) return;
  try {
    const auto position = static_cast<std::uint16_t>(fields_.size() - 1);
    next_.push_back(endOfChain);
    const auto [entry, inserted] =
        index_->try_emplace(fields_.back().name().canonicalName(), IndexEntry{position, position});
    if (!inserted) {
      next_[entry->second.last] = position;
      entry->second.last = position;
    }
  } catch (const std::bad_alloc&) {
    // The index is a cache: drop it and let the next lookup rebuild it.
    invalidateIndex();
  }
}

void HTTPFieldsStorage::replaceField(std::size_t position, HTTPField field) {
  if (field.name().canonicalName() != fields_[position].name().canonicalName()) {
    requireRegularField(field);
    invalidateIndex();
  }
  fields_[position] = std::move(field);
}

void HTTPFieldsStorage::replaceSubrange(std::size_t first, std::size_t last,
                                        std::span<const HTTPField> fields) {
  if (viewsInto(fields, fields_)) {
    // A view of our own fields would dangle as soon as fields_ grows or shifts.
    const std::vector<HTTPField> copy(fields.begin(), fields.end());
    replaceSubrange(first, last, copy);
    return;
  }
  precondition(first <= last && last <= fields_.size(), "HTTPFields range out of bounds");
  for (const HTTPField& field : fields) requireRegularField(field);
  requireFieldCount(fields_.size() - (last - first) + fields.size());
  if (first == fields_.size()) {
    for (const HTTPField& field : fields) appendField(field);
    return;
  }
  invalidateIndex();
  const auto begin = fields_.begin();
  fields_.erase(begin + static_cast<std::ptrdiff_t>(first),
                begin + static_cast<std::ptrdiff_t>(last));
  fields_.insert(fields_.begin() + static_cast<std::ptrdiff_t>(first), fields.begin(),
                 fields.end());
}

void HTTPFieldsStorage::removePositions(std::span<const std::size_t> positions) {
  if (positions.empty()) return;
  invalidateIndex();
  std::size_t kept = positions.front();
  auto removed = positions.begin();
  for (std::size_t i = positions.front(); i < fields_.size(); ++i) {
    if (removed != positions.end() && *removed == i) {
      ++removed;
      continue;
    }
    fields_[kept++] = std::move(fields_[i]);
  }
  fields_.erase(fields_.begin() + static_cast<std::ptrdiff_t>(kept), fields_.end());
}

void HTTPFieldsStorage::reserve(std::size_t capacity) {
  fields_.reserve(capacity);
  if (index_) {
    index_->reserve(capacity);
    next_.reserve(capacity);
  }
}

}  // namespace voduzazi::http_types::detail
