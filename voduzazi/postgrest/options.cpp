#include "voduzazi/postgrest/options.hpp"

#include <array>
#include <utility>

namespace voduzazi {
namespace {

template <class Enum, std::size_t N>
using Table = std::array<std::pair<Enum, std::string_view>, N>;

constexpr Table<CountOption, 3> countTexts{{{CountOption::exact, "exact"},
                                            {CountOption::planned, "planned"},
                                            {CountOption::estimated, "estimated"}}};
constexpr Table<PostgrestReturningOptions, 2> returningTexts{
    {{PostgrestReturningOptions::minimal, "minimal"},
     {PostgrestReturningOptions::representation, "representation"}}};
constexpr Table<TextSearchType, 3> textSearchTexts{{{TextSearchType::plain, "pl"},
                                                    {TextSearchType::phrase, "ph"},
                                                    {TextSearchType::websearch, "w"}}};

template <class Enum, std::size_t N>
std::string_view textOf(const Table<Enum, N>& table, Enum value) {
  for (const auto& [candidate, text] : table) {
    if (candidate == value) return text;
  }
  return {};
}

template <class Enum, std::size_t N>
std::optional<Enum> valueOf(const Table<Enum, N>& table, std::string_view text) {
  for (const auto& [value, candidate] : table) {
    if (candidate == text) return value;
  }
  return std::nullopt;
}

}  // namespace

std::string_view toString(CountOption option) { return textOf(countTexts, option); }
std::string_view toString(PostgrestReturningOptions option) {
  return textOf(returningTexts, option);
}
std::string_view toString(TextSearchType type) { return textOf(textSearchTexts, type); }

std::optional<CountOption> countOptionFromString(std::string_view text) {
  return valueOf(countTexts, text);
}
std::optional<PostgrestReturningOptions> returningOptionsFromString(std::string_view text) {
  return valueOf(returningTexts, text);
}
std::optional<TextSearchType> textSearchTypeFromString(std::string_view text) {
  return valueOf(textSearchTexts, text);
}

}  // namespace voduzazi
