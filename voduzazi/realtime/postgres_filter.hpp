// RealtimePostgresFilter: the typed row filter of a postgres-change subscription and its text,
// "column=op.value" or "column=in.(a,b,c)".
//
//   auto mine = RealtimePostgresFilter::eq("receiver_id", FilterValue(userId));
//   channel->postgresChange<InsertAction>("public", "messages", mine);   // "receiver_id=eq.<ID>"
//   RealtimePostgresFilter::in("id", {1, 2, 3}).filterString();          // "id=in.(1,2,3)"
#pragma once

#include <boost/uuid/uuid.hpp>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi::realtime {

// A value's text in a filter: strings as they are, integers in decimal, doubles in their shortest
// form ("2.0", "1e+20"), booleans "true"/"false", UUIDs in upper case, dates as ISO 8601 UTC with
// milliseconds and "Z".
class FilterValue {
 public:
  FilterValue(std::string text) : rawValue_(std::move(text)) {}
  FilterValue(const char* text) : rawValue_(text) {}
  template <class Integer>
  requires(std::is_integral_v<Integer> && !std::is_same_v<Integer, bool>) FilterValue(Integer value)
      : rawValue_(std::to_string(value)) {}
  FilterValue(double value);
  FilterValue(bool value) : rawValue_(value ? "true" : "false") {}
  FilterValue(const boost::uuids::uuid& value);
  FilterValue(Date value);

  const std::string& rawValue() const noexcept { return rawValue_; }
  friend bool operator==(const FilterValue&, const FilterValue&) = default;

 private:
  std::string rawValue_;
};

// A value type.
struct RealtimePostgresFilter {
  enum class Operator { eq, neq, gt, gte, lt, lte, in };

  Operator op = Operator::eq;
  std::string column;
  std::vector<FilterValue> values;  // one, or the list of `in`

  static RealtimePostgresFilter eq(std::string column, FilterValue value);
  static RealtimePostgresFilter neq(std::string column, FilterValue value);
  static RealtimePostgresFilter gt(std::string column, FilterValue value);
  static RealtimePostgresFilter gte(std::string column, FilterValue value);
  static RealtimePostgresFilter lt(std::string column, FilterValue value);
  static RealtimePostgresFilter lte(std::string column, FilterValue value);
  static RealtimePostgresFilter in(std::string column, std::vector<FilterValue> values);

  // The column, "=", the operator, "." and the value as it is. An `in` list is "(a,b,c)"; an item
  // holding a comma, a parenthesis, a double quote, a backslash or white space is written in
  // double quotes with `"` and `\` escaped by a backslash, so it stays one item.
  std::string filterString() const;

  friend bool operator==(const RealtimePostgresFilter&, const RealtimePostgresFilter&) = default;
};

}  // namespace voduzazi::realtime
