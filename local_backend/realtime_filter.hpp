// The row filter of a realtime subscription: "column=op.value" with op one of eq, neq, lt, lte,
// gt, gte, or "column=in.(a,b,c)" whose items may be double-quoted ("a,b"), a backslash escaping
// a quote or a backslash inside.
//
//   std::optional<RowFilter> filter = parseRowFilter("receiver_id=eq.6c1f...");
//   if (filter && filter->matches(row)) deliver(row);
#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace local_backend {

struct RowFilter {
  enum class Op { eq, neq, lt, lte, gt, gte, in };
  std::string column;
  Op op = Op::eq;
  std::vector<std::string> values;  // one, or the list of in

  // Compares the row's value as text (numbers as numbers when both sides are numbers); a row
  // without the column or with null there matches nothing.
  bool matches(const boost::json::object& row) const;
};

// Nothing when the text is not of the forms above.
std::optional<RowFilter> parseRowFilter(std::string_view text);

}  // namespace local_backend
