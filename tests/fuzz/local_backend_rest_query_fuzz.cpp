// The stand-in's REST query parser on any query items: it parses or refuses with a RestError,
// nothing else.
//
// Input: NUL-separated names and values, alternating.
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_query.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  std::vector<std::pair<std::string, std::string>> items;
  const auto pieces = in.fields();
  for (std::size_t i = 0; i < pieces.size(); i += 2) {
    items.emplace_back(pieces[i], i + 1 < pieces.size() ? pieces[i + 1] : std::string_view());
  }
  try {
    const local_backend::RestQuery query = local_backend::parseRestQuery(items);
    for (const local_backend::Filter& filter : query.filters) FUZZ_CHECK(!filter.column.empty());
  } catch (const local_backend::RestError&) {
  }
  return 0;
}
