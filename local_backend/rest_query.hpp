// The query string of a REST request, parsed: the selected columns, the row filters and logic
// trees, the order, the limit and offset, and the "columns" and "on_conflict" items of writes.
// Only the syntax is checked here; column names are checked against the table later.
//
//   RestQuery q = parseRestQuery({{"select", "id,content"}, {"receiver_id", "eq.A1B2"},
//                                 {"or", "(content.eq.hi,not.and(id.gt.1,id.lt.9))"},
//                                 {"order", "created_at.asc"}, {"limit", "10"}});
//   q.filters[0].op == FilterOperator::eq;
//   q.logic[0].disjunction && q.logic[0].trees[0].negated;
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace local_backend {

enum class FilterOperator { eq, neq, gt, gte, lt, lte, like, ilike, is, in };

struct Filter {
  std::string column;
  FilterOperator op = FilterOperator::eq;
  bool negated = false;
  // The operand as written; for `like` and `ilike` with "*" already turned into "%", for `is`
  // lower-cased ("null", "true", "false" or "unknown").
  std::string value;
  // The elements of an `in` list, unquoted.
  std::vector<std::string> list;
};

// Filters and nested trees joined by AND or OR, optionally negated as a whole.
struct LogicTree {
  bool disjunction = false;  // OR; otherwise AND
  bool negated = false;
  std::vector<Filter> filters;
  std::vector<LogicTree> trees;
};

// How deep logic trees may nest.
inline constexpr int kMaxLogicTreeDepth = 16;

struct OrderTerm {
  std::string column;
  bool ascending = true;
  // Unset: nulls last when ascending, first when descending, as the database sorts them.
  std::optional<bool> nullsFirst;

  bool effectiveNullsFirst() const { return nullsFirst.value_or(!ascending); }
};

struct RestQuery {
  std::vector<std::string> select;  // empty: every column
  std::vector<Filter> filters;  // joined by AND
  std::vector<LogicTree> logic;  // joined by AND with the filters
  std::vector<OrderTerm> order;
  std::optional<std::int64_t> limit;
  std::optional<std::int64_t> offset;
  std::optional<std::vector<std::string>> columns;
  std::optional<std::vector<std::string>> onConflict;
};

// Throws RestError "PGRST100" for syntax it does not understand: unknown operators, malformed
// lists, orders, numbers or logic trees, and embedded resources. The "apikey" item is skipped.
RestQuery parseRestQuery(const std::vector<std::pair<std::string, std::string>>& items);

// The tree of one "or", "and", "not.or" or "not.and" item: `value` is "(" + elements joined by
// "," + ")", each element a filter ("column.op.value", "column.not.op.value"; a value may be
// double-quoted to hold "," or parentheses) or a nested "or(...)", "and(...)", "not.or(...)",
// "not.and(...)". Throws RestError "PGRST100".
LogicTree parseLogicTree(std::string_view key, std::string_view value);

}  // namespace local_backend
