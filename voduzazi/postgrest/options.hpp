// The database client's option records: how a request executes (FetchOptions) and the option
// enumerations it writes into the "Prefer" header and the full-text operators.
//
//   auto response = builder.execute(FetchOptions{.head = false, .count = CountOption::exact});
//   toString(PostgrestReturningOptions::representation);   // "representation"
//   countOptionFromString("planned");                      // CountOption::planned
//   countOptionFromString("EXACT");                        // std::nullopt: exact match only
#pragma once

#include <optional>
#include <string_view>

namespace voduzazi {

// Asks the server for a row count ("count=" in "Prefer").
enum class CountOption { exact, planned, estimated };

// What a write answers with ("return=" in "Prefer").
enum class PostgrestReturningOptions { minimal, representation };

// The prefix of a full-text operator: "pl", "ph" or "w".
enum class TextSearchType { plain, phrase, websearch };

struct FetchOptions {
  // Sends this execution as HEAD: status, headers and count only.
  bool head = false;
  std::optional<CountOption> count = std::nullopt;

  friend bool operator==(const FetchOptions&, const FetchOptions&) = default;
};

// The wire texts; fromString matches them exactly (letter case included).
std::string_view toString(CountOption option);
std::string_view toString(PostgrestReturningOptions option);
std::string_view toString(TextSearchType type);
std::optional<CountOption> countOptionFromString(std::string_view text);
std::optional<PostgrestReturningOptions> returningOptionsFromString(std::string_view text);
std::optional<TextSearchType> textSearchTypeFromString(std::string_view text);

}  // namespace voduzazi
