// PostgrestFilterBuilder: adds row filters to a pending request as query items, in the database
// API's own syntax ("column=op.value"), and returns itself so that calls chain. Every filter is
// kept (two filters on one column are both sent), in call order.
//
//   client.from("messages").select()
//       .eq("receiver_id", me)
//       .gte("created_at", since)                        // a Date: "gte.2024-01-02T03:04:05.678Z"
//       .in("status", {"sent", 2})                       // "in.(sent,2)"
//       .or_("sender_id.eq." + me + ",receiver_id.eq." + me)
//       .order("created_at")
//       .execute();
//
// Values are written unquoted and are never escaped here (the transport percent-encodes each
// item once). So a value is free to hold a complete filter list (`or_` relies on it), and, in the
// same way, a text holding "," or ")" in `in`, or "," or "}" in an array value (`contains`,
// `likeAllOf`, ...), is read by the server as several elements or as the end of the list.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/postgrest/filter_value.hpp"
#include "voduzazi/postgrest/transform_builder.hpp"

namespace voduzazi {

// None of the operations fails or checks its input: the server reports bad filters when the
// request runs. Thread safety as PostgrestBuilder: concurrent filters interleave, none is lost.
class PostgrestFilterBuilder : public PostgrestTransformBuilderBase<PostgrestFilterBuilder> {
 public:
  // The operators; each one's text is its own name.
  // clang-format off
  enum class Operator {
    eq, neq, gt, gte, lt, lte, like, ilike, is, in, cs, cd,
    sl, sr, nxl, nxr, adj, ov, fts, plfts, phfts, wfts
  };
  // clang-format on
  static const std::vector<Operator>& allOperators();
  static std::string_view toString(Operator op);
  // Matches the texts exactly (letter case included).
  static std::optional<Operator> operatorFromString(std::string_view text);

  using PostgrestTransformBuilderBase::PostgrestTransformBuilderBase;

  // column = "not.<op>.<value>".
  PostgrestFilterBuilder& not_(std::string_view column, Operator op,
                               const PostgrestFilterValue& value);
  // "or" (or "table.or") = "(" + filters + ")", with filters a complete list such as
  // "id.eq.1,name.eq.x".
  PostgrestFilterBuilder& or_(const PostgrestFilterValue& filters,
                              const std::optional<std::string>& referencedTable = std::nullopt);

  PostgrestFilterBuilder& eq(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& neq(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& gt(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& gte(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& lt(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& lte(std::string_view column, const PostgrestFilterValue& value);

  // Patterns use "*" (or "%") for any run of characters.
  PostgrestFilterBuilder& like(std::string_view column, const PostgrestFilterValue& pattern);
  PostgrestFilterBuilder& ilike(std::string_view column, const PostgrestFilterValue& pattern);
  // The array forms write "{" + the texts joined by "," + "}", unquoted: a pattern holding "," or
  // "}" becomes several patterns or ends the list early.
  PostgrestFilterBuilder& likeAllOf(std::string_view column,
                                    const std::vector<PostgrestFilterValue>& patterns);
  PostgrestFilterBuilder& likeAnyOf(std::string_view column,
                                    const std::vector<PostgrestFilterValue>& patterns);
  PostgrestFilterBuilder& iLikeAllOf(std::string_view column,
                                     const std::vector<PostgrestFilterValue>& patterns);
  PostgrestFilterBuilder& iLikeAnyOf(std::string_view column,
                                     const std::vector<PostgrestFilterValue>& patterns);

  // "is.NULL" without a value, else "is.true" or "is.false".
  PostgrestFilterBuilder& is(std::string_view column, std::optional<bool> value);
  // "in.(" + the texts joined by "," + ")"; values of different types may be mixed. Texts are
  // not quoted: one holding "," or ")" becomes several values or ends the list early.
  PostgrestFilterBuilder& in(std::string_view column,
                             const std::vector<PostgrestFilterValue>& values);

  // "cs." + the text; an array value is written in braces, unquoted, so an element holding ","
  // or "}" changes the array (the same holds for containedBy and overlaps).
  PostgrestFilterBuilder& contains(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& containedBy(std::string_view column, const PostgrestFilterValue& value);
  PostgrestFilterBuilder& rangeLt(std::string_view column, const PostgrestFilterValue& range);
  PostgrestFilterBuilder& rangeGt(std::string_view column, const PostgrestFilterValue& range);
  PostgrestFilterBuilder& rangeGte(std::string_view column, const PostgrestFilterValue& range);
  PostgrestFilterBuilder& rangeLte(std::string_view column, const PostgrestFilterValue& range);
  PostgrestFilterBuilder& rangeAdjacent(std::string_view column, const PostgrestFilterValue& range);
  PostgrestFilterBuilder& overlaps(std::string_view column, const PostgrestFilterValue& value);

  // "[pl|ph|w]fts[(config)].<query>".
  PostgrestFilterBuilder& textSearch(std::string_view column, const PostgrestFilterValue& query,
                                     const std::optional<std::string>& config = std::nullopt,
                                     std::optional<TextSearchType> type = std::nullopt);
  PostgrestFilterBuilder& fts(std::string_view column, const PostgrestFilterValue& query,
                              const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& plfts(std::string_view column, const PostgrestFilterValue& query,
                                const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& phfts(std::string_view column, const PostgrestFilterValue& query,
                                const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& wfts(std::string_view column, const PostgrestFilterValue& query,
                               const std::optional<std::string>& config = std::nullopt);

  // column = op + "." + value, both as given.
  PostgrestFilterBuilder& filter(std::string_view column, std::string_view op,
                                 std::string_view value);
  // One "eq" item per entry, in the map's order, added at once.
  PostgrestFilterBuilder& match(const std::map<std::string, PostgrestFilterValue>& query);

  // Older names that take the value as text.
  PostgrestFilterBuilder& equals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& notEquals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& greaterThan(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& greaterThanOrEquals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& lowerThan(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& lowerThanOrEquals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& rangeLowerThan(std::string_view column, std::string_view range);
  PostgrestFilterBuilder& rangeGreaterThan(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& rangeGreaterThanOrEquals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& rangeLowerThanOrEquals(std::string_view column, std::string_view value);
  PostgrestFilterBuilder& fullTextSearch(std::string_view column, std::string_view query,
                                         const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& plainToFullTextSearch(
      std::string_view column, std::string_view query,
      const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& phraseToFullTextSearch(
      std::string_view column, std::string_view query,
      const std::optional<std::string>& config = std::nullopt);
  PostgrestFilterBuilder& webFullTextSearch(
      std::string_view column, std::string_view query,
      const std::optional<std::string>& config = std::nullopt);

 private:
  // Appends one item "name=value".
  PostgrestFilterBuilder& add(std::string_view name, std::string value);
  PostgrestFilterBuilder& add(std::string_view column, Operator op, std::string_view text);
};

}  // namespace voduzazi
