#include "voduzazi/postgrest/filter_builder.hpp"

#include <array>
#include <utility>

namespace voduzazi {
namespace {

using Builder = PostgrestFilterBuilder;
using Operator = Builder::Operator;

constexpr std::array<std::pair<Operator, std::string_view>, 22> operatorTexts{{
    {Operator::eq, "eq"},     {Operator::neq, "neq"},     {Operator::gt, "gt"},
    {Operator::gte, "gte"},   {Operator::lt, "lt"},       {Operator::lte, "lte"},
    {Operator::like, "like"}, {Operator::ilike, "ilike"}, {Operator::is, "is"},
    {Operator::in, "in"},     {Operator::cs, "cs"},       {Operator::cd, "cd"},
    {Operator::sl, "sl"},     {Operator::sr, "sr"},       {Operator::nxl, "nxl"},
    {Operator::nxr, "nxr"},   {Operator::adj, "adj"},     {Operator::ov, "ov"},
    {Operator::fts, "fts"},   {Operator::plfts, "plfts"}, {Operator::phfts, "phfts"},
    {Operator::wfts, "wfts"},
}};

std::string joined(const std::vector<PostgrestFilterValue>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    text += values[i].rawValue();
  }
  return text;
}

std::string braced(const std::vector<PostgrestFilterValue>& values) {
  return "{" + joined(values) + "}";
}

std::string fullText(std::string_view query, const std::optional<std::string>& config,
                     std::optional<TextSearchType> type) {
  std::string text = type ? std::string(toString(*type)) : std::string();
  text += "fts";
  if (config) text += "(" + *config + ")";
  return text + "." + std::string(query);
}

}  // namespace

const std::vector<Operator>& Builder::allOperators() {
  static const std::vector<Operator> all = [] {
    std::vector<Operator> operators;
    for (const auto& [op, text] : operatorTexts) operators.push_back(op);
    return operators;
  }();
  return all;
}

std::string_view Builder::toString(Operator op) {
  return operatorTexts[static_cast<std::size_t>(op)].second;
}

std::optional<Operator> Builder::operatorFromString(std::string_view text) {
  for (const auto& [op, candidate] : operatorTexts) {
    if (candidate == text) return op;
  }
  return std::nullopt;
}

Builder& Builder::add(std::string_view name, std::string value) {
  return change([&](helpers::HTTPRequest& request) {
    request.query.push_back({std::string(name), std::move(value)});
  });
}

Builder& Builder::add(std::string_view column, Operator op, std::string_view text) {
  return add(column, std::string(toString(op)) + "." + std::string(text));
}

Builder& Builder::not_(std::string_view column, Operator op, const PostgrestFilterValue& value) {
  return add(column, "not." + std::string(toString(op)) + "." + value.rawValue());
}

Builder& Builder::or_(const PostgrestFilterValue& filters,
                      const std::optional<std::string>& referencedTable) {
  return add(detail::referencedKey(referencedTable, "or"), "(" + filters.rawValue() + ")");
}

Builder& Builder::eq(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::eq, value.rawValue());
}
Builder& Builder::neq(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::neq, value.rawValue());
}
Builder& Builder::gt(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::gt, value.rawValue());
}
Builder& Builder::gte(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::gte, value.rawValue());
}
Builder& Builder::lt(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::lt, value.rawValue());
}
Builder& Builder::lte(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::lte, value.rawValue());
}

Builder& Builder::like(std::string_view column, const PostgrestFilterValue& pattern) {
  return add(column, Operator::like, pattern.rawValue());
}
Builder& Builder::ilike(std::string_view column, const PostgrestFilterValue& pattern) {
  return add(column, Operator::ilike, pattern.rawValue());
}
Builder& Builder::likeAllOf(std::string_view column,
                            const std::vector<PostgrestFilterValue>& patterns) {
  return add(column, "like(all)." + braced(patterns));
}
Builder& Builder::likeAnyOf(std::string_view column,
                            const std::vector<PostgrestFilterValue>& patterns) {
  return add(column, "like(any)." + braced(patterns));
}
Builder& Builder::iLikeAllOf(std::string_view column,
                             const std::vector<PostgrestFilterValue>& patterns) {
  return add(column, "ilike(all)." + braced(patterns));
}
Builder& Builder::iLikeAnyOf(std::string_view column,
                             const std::vector<PostgrestFilterValue>& patterns) {
  return add(column, "ilike(any)." + braced(patterns));
}

Builder& Builder::is(std::string_view column, std::optional<bool> value) {
  return add(column, Operator::is, !value ? "NULL" : *value ? "true" : "false");
}
Builder& Builder::in(std::string_view column, const std::vector<PostgrestFilterValue>& values) {
  return add(column, Operator::in, "(" + joined(values) + ")");
}

Builder& Builder::contains(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::cs, value.rawValue());
}
Builder& Builder::containedBy(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::cd, value.rawValue());
}
Builder& Builder::rangeLt(std::string_view column, const PostgrestFilterValue& range) {
  return add(column, Operator::sl, range.rawValue());
}
Builder& Builder::rangeGt(std::string_view column, const PostgrestFilterValue& range) {
  return add(column, Operator::sr, range.rawValue());
}
Builder& Builder::rangeGte(std::string_view column, const PostgrestFilterValue& range) {
  return add(column, Operator::nxl, range.rawValue());
}
Builder& Builder::rangeLte(std::string_view column, const PostgrestFilterValue& range) {
  return add(column, Operator::nxr, range.rawValue());
}
Builder& Builder::rangeAdjacent(std::string_view column, const PostgrestFilterValue& range) {
  return add(column, Operator::adj, range.rawValue());
}
Builder& Builder::overlaps(std::string_view column, const PostgrestFilterValue& value) {
  return add(column, Operator::ov, value.rawValue());
}

Builder& Builder::textSearch(std::string_view column, const PostgrestFilterValue& query,
                             const std::optional<std::string>& config,
                             std::optional<TextSearchType> type) {
  return add(column, fullText(query.rawValue(), config, type));
}
Builder& Builder::fts(std::string_view column, const PostgrestFilterValue& query,
                      const std::optional<std::string>& config) {
  return textSearch(column, query, config);
}
Builder& Builder::plfts(std::string_view column, const PostgrestFilterValue& query,
                        const std::optional<std::string>& config) {
  return textSearch(column, query, config, TextSearchType::plain);
}
Builder& Builder::phfts(std::string_view column, const PostgrestFilterValue& query,
                        const std::optional<std::string>& config) {
  return textSearch(column, query, config, TextSearchType::phrase);
}
Builder& Builder::wfts(std::string_view column, const PostgrestFilterValue& query,
                       const std::optional<std::string>& config) {
  return textSearch(column, query, config, TextSearchType::websearch);
}

Builder& Builder::filter(std::string_view column, std::string_view op, std::string_view value) {
  return add(column, std::string(op) + "." + std::string(value));
}

Builder& Builder::match(const std::map<std::string, PostgrestFilterValue>& query) {
  return change([&](helpers::HTTPRequest& request) {
    for (const auto& [column, value] : query)
      request.query.push_back({column, "eq." + value.rawValue()});
  });
}

Builder& Builder::equals(std::string_view column, std::string_view value) {
  return eq(column, value);
}
Builder& Builder::notEquals(std::string_view column, std::string_view value) {
  return neq(column, value);
}
Builder& Builder::greaterThan(std::string_view column, std::string_view value) {
  return gt(column, value);
}
Builder& Builder::greaterThanOrEquals(std::string_view column, std::string_view value) {
  return gte(column, value);
}
Builder& Builder::lowerThan(std::string_view column, std::string_view value) {
  return lt(column, value);
}
Builder& Builder::lowerThanOrEquals(std::string_view column, std::string_view value) {
  return lte(column, value);
}
Builder& Builder::rangeLowerThan(std::string_view column, std::string_view range) {
  return rangeLt(column, range);
}
Builder& Builder::rangeGreaterThan(std::string_view column, std::string_view value) {
  return rangeGt(column, value);
}
Builder& Builder::rangeGreaterThanOrEquals(std::string_view column, std::string_view value) {
  return rangeGte(column, value);
}
Builder& Builder::rangeLowerThanOrEquals(std::string_view column, std::string_view value) {
  return rangeLte(column, value);
}
Builder& Builder::fullTextSearch(std::string_view column, std::string_view query,
                                 const std::optional<std::string>& config) {
  return fts(column, query, config);
}
Builder& Builder::plainToFullTextSearch(std::string_view column, std::string_view query,
                                        const std::optional<std::string>& config) {
  return plfts(column, query, config);
}
Builder& Builder::phraseToFullTextSearch(std::string_view column, std::string_view query,
                                         const std::optional<std::string>& config) {
  return phfts(column, query, config);
}
Builder& Builder::webFullTextSearch(std::string_view column, std::string_view query,
                                    const std::optional<std::string>& config) {
  return wfts(column, query, config);
}

}  // namespace voduzazi
