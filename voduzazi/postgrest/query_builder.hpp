// PostgrestQueryBuilder: what PostgrestClient::from(table) returns. Its operations turn the
// table's request into a read, insert, upsert, update or delete and hand back a new filter
// builder for filters, transforms and execution.
//
//   client.from("messages").insert(Message{me, friendId, "hi"}).execute();
//   client.from("friends").insert(std::vector<Friend>{a, b});     // "columns=friend_id,user_id"
//   client.from("profiles").upsert(profile, "id", PostgrestReturningOptions::minimal);
//   client.from("messages").update(JSONObject{{"content", "edited"}}).eq("id", id).execute();
//   client.from("messages").delete_().eq("id", id).execute();
#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/postgrest/builder.hpp"
#include "voduzazi/postgrest/filter_builder.hpp"

namespace voduzazi {

// Each operation first changes this builder's own request (so a later operation builds on an
// earlier one), then returns a filter builder with a copy of it, its own HTTP client and fresh
// fetch options. Thread safety as PostgrestBuilder.
class PostgrestQueryBuilder : public PostgrestBuilder {
 public:
  using PostgrestBuilder::PostgrestBuilder;

  PostgrestQueryBuilder& setHeader(std::string_view name, std::string_view value) {
    PostgrestBuilder::setHeader(name, value);
    return *this;
  }

  // GET with "select" (white space outside double quotes dropped); `count` sets "Prefer" to
  // "count=..."; `head` makes it a HEAD request.
  PostgrestFilterBuilder select(std::string_view columns = "*", bool head = false,
                                std::optional<CountOption> count = std::nullopt);

  // POST of one record or an array of records (any value the configured encoder encodes). An
  // array of objects also sends "columns": every key of every object, sorted. Throws the
  // encoder's EncodingError before anything changes.
  template <class Values>
  PostgrestFilterBuilder insert(const Values& values,
                                std::optional<PostgrestReturningOptions> returning = std::nullopt,
                                std::optional<CountOption> count = std::nullopt);

  // As insert, resolving conflicts on `onConflict` (the primary key when none): merging into the
  // existing row, or keeping it when `ignoreDuplicates`.
  template <class Values>
  PostgrestFilterBuilder upsert(
      const Values& values, std::optional<std::string> onConflict = std::nullopt,
      PostgrestReturningOptions returning = PostgrestReturningOptions::representation,
      std::optional<CountOption> count = std::nullopt, bool ignoreDuplicates = false);

  // PATCH of the filtered rows with the given values.
  template <class Values>
  PostgrestFilterBuilder update(
      const Values& values,
      PostgrestReturningOptions returning = PostgrestReturningOptions::representation,
      std::optional<CountOption> count = std::nullopt);

  // DELETE of the filtered rows.
  PostgrestFilterBuilder delete_(
      PostgrestReturningOptions returning = PostgrestReturningOptions::representation,
      std::optional<CountOption> count = std::nullopt);

 private:
  // An encoded body: its JSON tree and its text.
  struct Body {
    boost::json::value json;
    Data text;
  };
  template <class Values>
  Body encode(const Values& values) const;

  PostgrestFilterBuilder insertBody(Body body, std::optional<PostgrestReturningOptions> returning,
                                    std::optional<CountOption> count);
  PostgrestFilterBuilder upsertBody(Body body, std::optional<std::string> onConflict,
                                    PostgrestReturningOptions returning,
                                    std::optional<CountOption> count, bool ignoreDuplicates);
  PostgrestFilterBuilder updateBody(Body body, PostgrestReturningOptions returning,
                                    std::optional<CountOption> count);
  // A filter builder on the request copied at the end of a change.
  PostgrestFilterBuilder filterBuilder(helpers::HTTPRequest request) const;
};

// Implementation.

template <class Values>
PostgrestQueryBuilder::Body PostgrestQueryBuilder::encode(const Values& values) const {
  const JSONEncoder& encoder = *configuration().encoder;
  boost::json::value json = encoder.encodeToJSON(values);
  Data text = encoder.write(json);
  return {std::move(json), std::move(text)};
}

template <class Values>
PostgrestFilterBuilder PostgrestQueryBuilder::insert(
    const Values& values, std::optional<PostgrestReturningOptions> returning,
    std::optional<CountOption> count) {
  return insertBody(encode(values), returning, count);
}

template <class Values>
PostgrestFilterBuilder PostgrestQueryBuilder::upsert(const Values& values,
                                                     std::optional<std::string> onConflict,
                                                     PostgrestReturningOptions returning,
                                                     std::optional<CountOption> count,
                                                     bool ignoreDuplicates) {
  return upsertBody(encode(values), std::move(onConflict), returning, count, ignoreDuplicates);
}

template <class Values>
PostgrestFilterBuilder PostgrestQueryBuilder::update(const Values& values,
                                                     PostgrestReturningOptions returning,
                                                     std::optional<CountOption> count) {
  return updateBody(encode(values), returning, count);
}

}  // namespace voduzazi
