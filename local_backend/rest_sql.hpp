// SQL text for REST requests. Identifiers come only from the catalog (quoted); every value the
// request carries travels as a bound parameter, normalised for its column's type first.
//
//   SqlParams params;
//   std::string where = whereClause(table, query.filters, query.logic, params);
//   Statement s = c.prepare("SELECT * FROM \"messages\" WHERE " + where);
//   params.bindTo(s);
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <vector>

#include "local_backend/database.hpp"
#include "local_backend/rest_catalog.hpp"
#include "local_backend/rest_query.hpp"

namespace local_backend {

// The values of one statement, numbered in the order they are added.
class SqlParams {
 public:
  // Returns the placeholder ("?1", "?2", ...) to write into the SQL.
  std::string add(std::optional<std::string> value);
  void bindTo(Statement& statement) const;

 private:
  std::vector<std::optional<std::string>> values_;
};

// A double-quoted identifier.
std::string quoteIdentifier(std::string_view identifier);

// Throws RestError 400 "42703" when the table has no such column.
const Column& requireColumn(const Table& table, std::string_view name);

// A filter or key value as the column stores it: UUIDs lower-case, times in their fixed-width
// UTC form. Throws RestError 400 "22P02" (bad UUID) or "22007" (bad time).
std::string normaliseValue(const Column& column, std::string_view text);

// A JSON value of a written row as the column stores it; nullopt for null. Throws RestError
// 400 "22P02" for a value the column cannot hold.
std::optional<std::string> columnValue(const Column& column, const boost::json::value& value);

// The filters and logic trees joined with AND, or "1" when there are none.
std::string whereClause(const Table& table, const std::vector<Filter>& filters,
                        const std::vector<LogicTree>& logic, SqlParams& params);

// " ORDER BY ..." or empty.
std::string orderClause(const Table& table, const std::vector<OrderTerm>& order);

// The quoted columns to return: the selected ones, or all of them in table order.
std::string selectList(const Table& table, const std::vector<std::string>& select);

}  // namespace local_backend
