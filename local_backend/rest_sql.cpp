#include "local_backend/rest_sql.hpp"

#include <boost/json/serialize.hpp>
#include <cctype>

#include "local_backend/detail/like_pattern.hpp"
#include "local_backend/rest_error.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {

namespace {

std::optional<std::string> canonicalUuid(std::string_view text) {
  std::string hex;
  if (text.size() == 36) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash != (text[i] == '-')) return std::nullopt;
      if (!dash) hex += text[i];
    }
  } else if (text.size() == 32) {
    hex = text;
  } else {
    return std::nullopt;
  }
  std::string result;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const auto c = static_cast<unsigned char>(hex[i]);
    if (!std::isxdigit(c)) return std::nullopt;
    if (i == 8 || i == 12 || i == 16 || i == 20) result += '-';
    result += static_cast<char>(std::tolower(c));
  }
  return result;
}

std::string sqlOperator(FilterOperator op) {
  switch (op) {
    case FilterOperator::eq: return " = ";
    case FilterOperator::neq: return " <> ";
    case FilterOperator::gt: return " > ";
    case FilterOperator::gte: return " >= ";
    case FilterOperator::lt: return " < ";
    case FilterOperator::lte: return " <= ";
    default: return " = ";
  }
}

std::string condition(const Column& column, const Filter& filter, SqlParams& params) {
  const std::string name = quoteIdentifier(column.name);
  switch (filter.op) {
    case FilterOperator::like:
    case FilterOperator::ilike: {
      if (!detail::isValidLikePattern(filter.value)) {
        throw RestError(http::status::bad_request, "22025",
                        "LIKE pattern must not end with escape character");
      }
      // UUIDs are stored lower-case, so their patterns match without regard to case.
      const bool folded = filter.op == FilterOperator::ilike || column.type == ColumnType::uuid;
      return "pg_like(" + name + ", " + params.add(filter.value) + ", " + (folded ? "1" : "0") +
             ")";
    }
    case FilterOperator::is:
      if (filter.value == "true") return name + " IS TRUE";
      if (filter.value == "false") return name + " IS FALSE";
      return name + " IS NULL";
    case FilterOperator::in: {
      if (filter.list.empty()) return "0";
      std::string sql = name + " IN (";
      for (std::size_t i = 0; i < filter.list.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += params.add(normaliseValue(column, filter.list[i]));
      }
      return sql + ")";
    }
    default:
      return name + sqlOperator(filter.op) + params.add(normaliseValue(column, filter.value));
  }
}

}  // namespace

std::string SqlParams::add(std::optional<std::string> value) {
  values_.push_back(std::move(value));
  std::string placeholder(1, '?');
  placeholder += std::to_string(values_.size());
  return placeholder;
}

void SqlParams::bindTo(Statement& statement) const {
  for (std::size_t i = 0; i < values_.size(); ++i) {
    statement.bind(static_cast<int>(i + 1), values_[i]);
  }
}

std::string quoteIdentifier(std::string_view identifier) {
  std::string text = "\"";
  for (const char c : identifier) {
    if (c == '"') text += '"';
    text += c;
  }
  return text + "\"";
}

const Column& requireColumn(const Table& table, std::string_view name) {
  if (const Column* column = table.find(name)) return *column;
  throw RestError(http::status::bad_request, "42703",
                  "column " + table.name + "." + std::string(name) + " does not exist");
}

std::string normaliseValue(const Column& column, std::string_view text) {
  switch (column.type) {
    case ColumnType::uuid:
      if (auto uuid = canonicalUuid(text)) return *uuid;
      throw RestError(http::status::bad_request, "22P02",
                      "invalid input syntax for type uuid: \"" + std::string(text) + "\"");
    case ColumnType::timestamptz:
      if (auto time = parseTimestamp(text)) return formatTimestamp(*time);
      throw RestError(
          http::status::bad_request, "22007",
          "invalid input syntax for type timestamp with time zone: \"" + std::string(text) + "\"");
    case ColumnType::text: break;
  }
  return std::string(text);
}

std::optional<std::string> columnValue(const Column& column, const boost::json::value& value) {
  if (value.is_null()) return std::nullopt;
  if (value.is_string()) return normaliseValue(column, value.as_string());
  if (column.type == ColumnType::text) return boost::json::serialize(value);
  throw RestError(
      http::status::bad_request, "22P02",
      "invalid input for column \"" + column.name + "\": " + boost::json::serialize(value));
}

namespace {

std::string filterCondition(const Table& table, const Filter& filter, SqlParams& params) {
  const std::string test = condition(requireColumn(table, filter.column), filter, params);
  return filter.negated ? "NOT (" + test + ")" : "(" + test + ")";
}

std::string treeCondition(const Table& table, const LogicTree& tree, SqlParams& params) {
  const char* joiner = tree.disjunction ? " OR " : " AND ";
  std::string sql;
  for (const auto& filter : tree.filters) {
    sql += (sql.empty() ? "" : joiner) + filterCondition(table, filter, params);
  }
  for (const auto& nested : tree.trees) {
    sql += (sql.empty() ? "" : joiner) + treeCondition(table, nested, params);
  }
  return (tree.negated ? "NOT (" : "(") + sql + ")";
}

}  // namespace

std::string whereClause(const Table& table, const std::vector<Filter>& filters,
                        const std::vector<LogicTree>& logic, SqlParams& params) {
  std::string sql;
  for (const auto& filter : filters) {
    sql += (sql.empty() ? "" : " AND ") + filterCondition(table, filter, params);
  }
  for (const auto& tree : logic) {
    sql += (sql.empty() ? "" : " AND ") + treeCondition(table, tree, params);
  }
  return sql.empty() ? "1" : sql;
}

std::string orderClause(const Table& table, const std::vector<OrderTerm>& order) {
  std::string sql;
  for (const auto& term : order) {
    sql += sql.empty() ? " ORDER BY " : ", ";
    sql += quoteIdentifier(requireColumn(table, term.column).name);
    sql += term.ascending ? " ASC" : " DESC";
    sql += term.effectiveNullsFirst() ? " NULLS FIRST" : " NULLS LAST";
  }
  return sql;
}

std::string selectList(const Table& table, const std::vector<std::string>& select) {
  std::string sql;
  if (select.empty()) {
    for (const auto& column : table.columns) {
      sql += (sql.empty() ? "" : ", ") + quoteIdentifier(column.name);
    }
    return sql;
  }
  for (const auto& name : select) {
    sql += (sql.empty() ? "" : ", ") + quoteIdentifier(requireColumn(table, name).name);
  }
  return sql;
}

}  // namespace local_backend
