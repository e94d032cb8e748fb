#include "voduzazi/realtime/postgres_filter.hpp"

#include <boost/uuid/uuid_io.hpp>
#include <cctype>

#include "voduzazi/helpers/detail/json_writer.hpp"

namespace voduzazi::realtime {

namespace {

using Operator = RealtimePostgresFilter::Operator;

std::string_view operatorName(Operator op) {
  switch (op) {
    case Operator::eq:
      return "eq";
    case Operator::neq:
      return "neq";
    case Operator::gt:
      return "gt";
    case Operator::gte:
      return "gte";
    case Operator::lt:
      return "lt";
    case Operator::lte:
      return "lte";
    case Operator::in:
      return "in";
  }
  return "eq";
}

bool needsQuotes(std::string_view item) {
  for (const char c : item) {
    if (c == ',' || c == '(' || c == ')' || c == '"' || c == '\\' ||
        std::isspace(static_cast<unsigned char>(c))) {
      return true;
    }
  }
  return false;
}

std::string listItem(std::string_view item) {
  if (!needsQuotes(item)) return std::string(item);
  std::string quoted = "\"";
  for (const char c : item) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

RealtimePostgresFilter single(Operator op, std::string column, FilterValue value) {
  return {op, std::move(column), {std::move(value)}};
}

}  // namespace

FilterValue::FilterValue(double value) : rawValue_(voduzazi::detail::formatDouble(value)) {}

FilterValue::FilterValue(const boost::uuids::uuid& value)
    : rawValue_(boost::uuids::to_string(value)) {
  for (char& c : rawValue_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

FilterValue::FilterValue(Date value) : rawValue_(sdkDateString(value) + "Z") {}

RealtimePostgresFilter RealtimePostgresFilter::eq(std::string column, FilterValue value) {
  return single(Operator::eq, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::neq(std::string column, FilterValue value) {
  return single(Operator::neq, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::gt(std::string column, FilterValue value) {
  return single(Operator::gt, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::gte(std::string column, FilterValue value) {
  return single(Operator::gte, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::lt(std::string column, FilterValue value) {
  return single(Operator::lt, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::lte(std::string column, FilterValue value) {
  return single(Operator::lte, std::move(column), std::move(value));
}
RealtimePostgresFilter RealtimePostgresFilter::in(std::string column,
                                                  std::vector<FilterValue> values) {
  return {Operator::in, std::move(column), std::move(values)};
}

std::string RealtimePostgresFilter::filterString() const {
  std::string text = column + "=" + std::string(operatorName(op)) + ".";
  if (op != Operator::in) return text + (values.empty() ? "" : values.front().rawValue());
  text += '(';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    text += listItem(values[i].rawValue());
  }
  return text + ')';
}

}  // namespace voduzazi::realtime
