// The transforms every filter builder offers: the returned columns, ordering, limit and range,
// the answer's form (one object, CSV, GeoJSON, query plan) and a cap on affected rows. Each
// returns the builder itself with its own type, so calls chain in any order.
//
//   client.from("messages").select().eq("receiver_id", me)
//       .order("created_at").range(0, 9).single().execute();
//   client.from("t").select().order("id", false, true, "author");   // "author.order=id.desc..."
//   builder.explain(true, true, false, false, false, "json");   // the plan, not the rows
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/postgrest/builder.hpp"
#include "voduzazi/postgrest/detail/request_shaping.hpp"

namespace voduzazi {

// Self is the builder class that derives from this one (PostgrestTransformBuilder or
// PostgrestFilterBuilder). None of the operations fails. Thread safety as PostgrestBuilder.
template <class Self>
class PostgrestTransformBuilderBase : public PostgrestBuilder {
 public:
  using PostgrestBuilder::PostgrestBuilder;

  Self& setHeader(std::string_view name, std::string_view value) {
    PostgrestBuilder::setHeader(name, value);
    return self();
  }

  // "select" := the column list without white space outside double quotes, and the rows back
  // ("return=representation" in "Prefer").
  Self& select(std::string_view columns = "*") {
    return change([&](auto& request) { detail::selectColumns(request, columns); });
  }

  // Appends "column.asc|desc.nullsfirst|nullslast" to "order" (or "table.order").
  Self& order(std::string_view column, bool ascending = true, bool nullsFirst = false,
              const std::optional<std::string>& referencedTable = std::nullopt) {
    return change([&](auto& request) {
      detail::addOrder(request, column, ascending, nullsFirst, referencedTable);
    });
  }

  Self& limit(std::int64_t count,
              const std::optional<std::string>& referencedTable = std::nullopt) {
    return change([&](auto& request) { detail::setLimit(request, count, referencedTable); });
  }

  // Rows `from` to `to`, both included and counted from 0: "offset" and "limit".
  Self& range(std::int64_t from, std::int64_t to,
              const std::optional<std::string>& referencedTable = std::nullopt) {
    return change([&](auto& request) { detail::setRange(request, from, to, referencedTable); });
  }

  // The answer is one object; the server refuses with 406 ("PGRST116") unless exactly one row.
  Self& single() { return accept("application/vnd.pgrst.object+json"); }
  Self& csv() { return accept("text/csv"); }
  Self& geojson() { return accept("application/geo+json"); }

  // The query plan instead of the rows, in `format`, for the media type asked so far.
  Self& explain(bool analyze = false, bool verbose = false, bool settings = false,
                bool buffers = false, bool wal = false, std::string_view format = "text") {
    std::string options;
    for (const auto& [on, name] :
         {std::pair{analyze, "analyze"}, std::pair{verbose, "verbose"},
          std::pair{settings, "settings"}, std::pair{buffers, "buffers"}, std::pair{wal, "wal"}}) {
      if (!on) continue;
      if (!options.empty()) options += '|';
      options += name;
    }
    return change([&](auto& request) { detail::askForPlan(request, options, format); });
  }

  // The write fails instead of touching more than `count` rows.
  Self& maxAffected(std::int64_t count) {
    return change([&](auto& request) { detail::limitAffectedRows(request, count); });
  }

 protected:
  Self& self() { return static_cast<Self&>(*this); }

  template <class Change>
  Self& change(Change&& change) {
    changeRequest(std::forward<Change>(change));
    return self();
  }

 private:
  Self& accept(std::string_view mediaType) {
    return change([&](auto& request) { detail::setAccept(request, mediaType); });
  }
};

// A builder with the transforms only.
class PostgrestTransformBuilder : public PostgrestTransformBuilderBase<PostgrestTransformBuilder> {
 public:
  using PostgrestTransformBuilderBase::PostgrestTransformBuilderBase;
};

}  // namespace voduzazi
