// RecordHash: feeds a record's fields into one hash value in order, consistent with the
// defaulted == of the storage records: an optional adds a presence marker and, when present,
// its value; dates add their instant.
//
//   detail::RecordHash hash;
//   hash.add(bucket.id).add(bucket.fileSizeLimit);
//   std::size_t value = hash.value();
#pragma once

#include <boost/uuid/uuid.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi::storage::detail {

class RecordHash {
 public:
  RecordHash& add(std::size_t value) {
    // The 64-bit mixing step of the usual hash_combine.
    seed_ ^= value + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2);
    return *this;
  }
  RecordHash& add(const std::string& text) { return add(std::hash<std::string>()(text)); }
  RecordHash& add(bool flag) { return add(std::size_t{flag ? 1u : 2u}); }
  RecordHash& add(std::int64_t number) { return add(std::hash<std::int64_t>()(number)); }
  template <class Clock, class Duration>
  RecordHash& add(const std::chrono::time_point<Clock, Duration>& instant) {
    return add(static_cast<std::int64_t>(instant.time_since_epoch().count()));
  }
  RecordHash& add(const boost::uuids::uuid& id) { return add(boost::uuids::hash_value(id)); }
  RecordHash& add(const JSONObject& object) { return add(AnyJSON(object).hashValue()); }
  template <class T>
  RecordHash& add(const std::vector<T>& values) {
    add(values.size());
    for (const T& value : values) add(value);
    return *this;
  }
  template <class T>
  RecordHash& add(const std::optional<T>& value) {
    add(std::size_t{value.has_value()});
    return value ? add(*value) : *this;
  }
  // Any other record that has a std::hash of its own.
  template <class T>
  RecordHash& add(const T& record) requires requires {
    std::hash<T>()(record);
  }
  { return add(std::hash<T>()(record)); }

  std::size_t value() const noexcept { return seed_; }

 private:
  std::size_t seed_ = 0;
};

}  // namespace voduzazi::storage::detail
