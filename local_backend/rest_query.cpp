#include "local_backend/rest_query.hpp"

#include <algorithm>
#include <charconv>

#include "local_backend/rest_error.hpp"

namespace local_backend {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> splitList(std::string_view text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = text.find(',', start);
    const auto end = comma == std::string_view::npos ? text.size() : comma;
    items.emplace_back(trim(text.substr(start, end - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

bool isPlainName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

std::vector<std::string> columnList(std::string_view key, std::string_view text) {
  // An empty list is what a bulk insert of no rows names.
  if (trim(text).empty()) return {};
  auto names = splitList(text);
  for (const auto& name : names) {
    if (!isPlainName(name)) {
      throw syntaxError("\"" + std::string(key) + "\" holds an invalid column name \"" + name +
                        "\"");
    }
  }
  return names;
}

std::vector<std::string> parseSelect(std::string_view text) {
  std::vector<std::string> columns;
  bool everything = false;
  for (auto& item : splitList(text)) {
    if (item == "*") {
      everything = true;
      continue;
    }
    if (!isPlainName(item)) {
      throw syntaxError("unsupported select item \"" + item + "\"",
                        "only column names and * can be selected");
    }
    columns.push_back(std::move(item));
  }
  return everything ? std::vector<std::string>{} : columns;
}

std::int64_t parseCount(std::string_view key, std::string_view text) {
  std::int64_t value = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
    throw syntaxError("\"" + std::string(key) + "\" must be a non-negative integer");
  }
  return value;
}

std::vector<OrderTerm> parseOrder(std::string_view text) {
  std::vector<OrderTerm> terms;
  for (const auto& item : splitList(text)) {
    OrderTerm term;
    std::size_t start = 0;
    int part = 0;
    while (start <= item.size()) {
      const auto dot = item.find('.', start);
      const std::string_view piece = std::string_view(item).substr(
          start, dot == std::string::npos ? std::string::npos : dot - start);
      if (part == 0) {
        if (!isPlainName(piece)) throw syntaxError("invalid order column \"" + item + "\"");
        term.column = piece;
      } else if (piece == "asc" || piece == "desc") {
        term.ascending = piece == "asc";
      } else if (piece == "nullsfirst" || piece == "nullslast") {
        term.nullsFirst = piece == "nullsfirst";
      } else {
        throw syntaxError("invalid order modifier \"" + std::string(piece) + "\" in \"" + item +
                          "\"");
      }
      ++part;
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    terms.push_back(std::move(term));
  }
  return terms;
}

// "(a,\"b,c\",d)" -> a | b,c | d. Quoted elements may escape characters with a backslash.
std::vector<std::string> parseInList(std::string_view text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') {
    throw syntaxError("the \"in\" operand must be a list in parentheses, like (1,2,3)");
  }
  const std::string_view body = text.substr(1, text.size() - 2);
  std::vector<std::string> items;
  if (trim(body).empty()) return items;
  std::string current;
  bool quoted = false;
  bool wasQuoted = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (quoted) {
      if (c == '\\' && i + 1 < body.size()) {
        current += body[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == '"') {
      if (trim(current).empty()) current.clear();
      quoted = wasQuoted = true;
    } else if (c == ',') {
      items.push_back(wasQuoted ? current : std::string(trim(current)));
      current.clear();
      wasQuoted = false;
    } else if (!(wasQuoted && (c == ' ' || c == '\t'))) {
      current += c;
    }
  }
  if (quoted) throw syntaxError("unterminated quote in the \"in\" list");
  items.push_back(wasQuoted ? current : std::string(trim(current)));
  return items;
}

std::optional<FilterOperator> operatorNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, FilterOperator> kOperators[] = {
      {"eq", FilterOperator::eq},     {"neq", FilterOperator::neq},
      {"gt", FilterOperator::gt},     {"gte", FilterOperator::gte},
      {"lt", FilterOperator::lt},     {"lte", FilterOperator::lte},
      {"like", FilterOperator::like}, {"ilike", FilterOperator::ilike},
      {"is", FilterOperator::is},     {"in", FilterOperator::in}};
  for (const auto& [text, op] : kOperators) {
    if (text == name) return op;
  }
  return std::nullopt;
}

Filter parseFilter(const std::string& column, std::string_view text) {
  if (!isPlainName(column)) {
    throw syntaxError("unsupported filter on \"" + column + "\"",
                      "filters name one column of the table");
  }
  Filter filter;
  filter.column = column;
  if (text.substr(0, 4) == "not.") {
    filter.negated = true;
    text.remove_prefix(4);
  }
  const auto dot = text.find('.');
  const auto op = operatorNamed(text.substr(0, dot));
  if (dot == std::string_view::npos || !op) {
    throw syntaxError("unknown filter operator in \"" + std::string(text) + "\"",
                      "use eq, neq, gt, gte, lt, lte, like, ilike, is or in, optionally "
                      "after not.");
  }
  filter.op = *op;
  const std::string_view operand = text.substr(dot + 1);
  switch (*op) {
    case FilterOperator::in: filter.list = parseInList(operand); break;
    case FilterOperator::is: {
      std::string lowered(operand);
      std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (lowered != "null" && lowered != "true" && lowered != "false" && lowered != "unknown") {
        throw syntaxError("\"is\" takes null, true, false or unknown, not \"" +
                          std::string(operand) + "\"");
      }
      filter.value = std::move(lowered);
      break;
    }
    case FilterOperator::like:
    case FilterOperator::ilike:
      filter.value = operand;
      std::replace(filter.value.begin(), filter.value.end(), '*', '%');
      break;
    default: filter.value = operand;
  }
  return filter;
}

// The element texts of a logic tree's body, split at the commas outside quotes, parentheses and
// braces.
std::vector<std::string_view> splitTreeElements(std::string_view body) {
  std::vector<std::string_view> elements;
  int depth = 0;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(' || c == '{') {
      ++depth;
    } else if (c == ')' || c == '}') {
      if (--depth < 0) throw syntaxError("unbalanced parentheses in a logic tree");
    } else if (c == ',' && depth == 0) {
      elements.push_back(body.substr(start, i - start));
      start = i + 1;
    }
  }
  if (quoted || depth != 0) throw syntaxError("unbalanced quotes or parentheses in a logic tree");
  elements.push_back(body.substr(start));
  return elements;
}

// "\"a,b\"" -> a,b; a backslash keeps the character after it. Unquoted text stays as it is.
std::string unquoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string value;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size()) ++i;
    value += text[i];
  }
  return value;
}

LogicTree parseTree(std::string_view key, std::string_view value, int depth);

// One element of a tree: a nested tree, or "column.[not.]op.value".
void addTreeElement(LogicTree& tree, std::string_view element, int depth) {
  element = trim(element);
  for (const std::string_view prefix : {"not.and(", "not.or(", "and(", "or("}) {
    if (element.starts_with(prefix)) {
      const std::size_t open = prefix.size() - 1;
      tree.trees.push_back(parseTree(element.substr(0, open), element.substr(open), depth + 1));
      return;
    }
  }
  const std::size_t dot = element.find('.');
  if (dot == std::string_view::npos) {
    throw syntaxError("\"" + std::string(element) + "\" is not a filter of a logic tree",
                      "elements are column.operator.value or a nested and(...) or or(...)");
  }
  Filter filter = parseFilter(std::string(element.substr(0, dot)), element.substr(dot + 1));
  if (filter.op != FilterOperator::in) filter.value = unquoted(filter.value);
  tree.filters.push_back(std::move(filter));
}

LogicTree parseTree(std::string_view key, std::string_view value, int depth) {
  if (depth > kMaxLogicTreeDepth) {
    throw syntaxError("logic trees nest at most " + std::to_string(kMaxLogicTreeDepth) +
                      " levels deep");
  }
  LogicTree tree;
  if (key.starts_with("not.")) {
    tree.negated = true;
    key.remove_prefix(4);
  }
  if (key != "or" && key != "and") {
    throw syntaxError("unknown logic operator \"" + std::string(key) + "\"");
  }
  tree.disjunction = key == "or";
  if (value.size() < 2 || value.front() != '(' || value.back() != ')') {
    throw syntaxError("a logic tree is a list in parentheses, like (a.eq.1,b.eq.2)");
  }
  const std::string_view body = value.substr(1, value.size() - 2);
  if (trim(body).empty()) throw syntaxError("a logic tree needs at least one filter");
  for (const std::string_view element : splitTreeElements(body)) {
    addTreeElement(tree, element, depth);
  }
  return tree;
}

}  // namespace

LogicTree parseLogicTree(std::string_view key, std::string_view value) {
  return parseTree(key, value, 1);
}

RestQuery parseRestQuery(const std::vector<std::pair<std::string, std::string>>& items) {
  RestQuery query;
  for (const auto& [key, value] : items) {
    if (key == "apikey" || (key.empty() && value.empty())) continue;
    if (key == "select") {
      query.select = parseSelect(value);
    } else if (key == "order") {
      query.order = parseOrder(value);
    } else if (key == "limit") {
      query.limit = parseCount(key, value);
    } else if (key == "offset") {
      query.offset = parseCount(key, value);
    } else if (key == "columns") {
      query.columns = columnList(key, value);
    } else if (key == "on_conflict") {
      query.onConflict = columnList(key, value);
    } else if (key == "or" || key == "and" || key == "not.or" || key == "not.and") {
      query.logic.push_back(parseLogicTree(key, value));
    } else {
      query.filters.push_back(parseFilter(key, value));
    }
  }
  return query;
}

}  // namespace local_backend
