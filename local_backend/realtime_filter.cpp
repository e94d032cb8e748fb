#include "local_backend/realtime_filter.hpp"

#include <algorithm>
#include <array>
#include <boost/json/serialize.hpp>
#include <cctype>
#include <charconv>
#include <utility>

namespace local_backend {

namespace {

constexpr std::array<std::pair<std::string_view, RowFilter::Op>, 7> kOps{{
    {"eq", RowFilter::Op::eq},
    {"neq", RowFilter::Op::neq},
    {"lt", RowFilter::Op::lt},
    {"lte", RowFilter::Op::lte},
    {"gt", RowFilter::Op::gt},
    {"gte", RowFilter::Op::gte},
    {"in", RowFilter::Op::in},
}};

std::optional<double> number(std::string_view text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest != end || text.empty()) return std::nullopt;
  return value;
}

// Text in the 8-4-4-4-12 hex form of a uuid, in either letter case.
bool isUuidText(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::string lowercased(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// Negative, zero or positive as `left` sorts before, with or after `right`. Uuids are stored
// lower-case and may be asked for in capitals: they compare without regard to letter case, as
// in the REST filters.
int compare(std::string_view left, std::string_view right) {
  const auto a = number(left);
  const auto b = number(right);
  if (a && b) return *a < *b ? -1 : (*a > *b ? 1 : 0);
  if (isUuidText(left) && isUuidText(right)) return lowercased(left).compare(lowercased(right));
  return left.compare(right);
}

// The items of an in-list: bare, or in double quotes with \" and \\ escapes (so an item may hold
// a comma or a parenthesis). Nothing for an unterminated quote or text after a closing quote.
std::optional<std::vector<std::string>> splitList(std::string_view list) {
  std::vector<std::string> items;
  std::size_t at = 0;
  while (true) {
    std::string item;
    if (at < list.size() && list[at] == '"') {
      for (++at;; ++at) {
        if (at >= list.size()) return std::nullopt;
        if (list[at] == '"') break;
        if (list[at] == '\\' && ++at >= list.size()) return std::nullopt;
        item += list[at];
      }
      ++at;
      if (at < list.size() && list[at] != ',') return std::nullopt;
    } else {
      const auto comma = list.find(',', at);
      item = std::string(list.substr(at, comma == std::string_view::npos ? comma : comma - at));
      at = comma == std::string_view::npos ? list.size() : comma;
    }
    items.push_back(std::move(item));
    if (at >= list.size()) return items;
    ++at;  // the comma
  }
}

}  // namespace

std::optional<RowFilter> parseRowFilter(std::string_view text) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  const auto rest = text.substr(equals + 1);
  const auto dot = rest.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto opName = rest.substr(0, dot);
  const auto found = std::find_if(kOps.begin(), kOps.end(),
                                  [&](const auto& entry) { return entry.first == opName; });
  if (found == kOps.end()) return std::nullopt;
  RowFilter filter{std::string(text.substr(0, equals)), found->second, {}};
  auto value = rest.substr(dot + 1);
  if (filter.op == RowFilter::Op::in) {
    if (value.size() < 2 || value.front() != '(' || value.back() != ')') return std::nullopt;
    auto items = splitList(value.substr(1, value.size() - 2));
    if (!items) return std::nullopt;
    filter.values = std::move(*items);
  } else {
    filter.values.emplace_back(value);
  }
  return filter;
}

bool RowFilter::matches(const boost::json::object& row) const {
  const auto* cell = row.if_contains(column);
  if (cell == nullptr || cell->is_null()) return false;
  const std::string text =
      cell->is_string() ? std::string(cell->as_string()) : boost::json::serialize(*cell);
  const int order = compare(text, values.front());
  switch (op) {
    case Op::eq:
      return order == 0;
    case Op::neq:
      return order != 0;
    case Op::lt:
      return order < 0;
    case Op::lte:
      return order <= 0;
    case Op::gt:
      return order > 0;
    case Op::gte:
      return order >= 0;
    case Op::in:
      return std::any_of(values.begin(), values.end(),
                         [&](const std::string& v) { return compare(text, v) == 0; });
  }
  return false;
}

}  // namespace local_backend
