// Query items appended to a URL: every item, in order, can be read back from the query, and the
// URL's own query stays in front of them.
//
// Input: a byte choosing the URL, then NUL-separated items, "name=value" or a bare "name".
#include <boost/url/pct_string_view.hpp>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/query_items.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

namespace {

std::string decoded(std::string_view escaped) {
  const auto text = boost::urls::make_pct_string_view(escaped);
  FUZZ_CHECK(text.has_value());
  return text->decode();
}

// The items of a query written by appendQueryItems (every "&" and "=" of a name or value is
// escaped there, so the split is exact).
std::vector<URLQueryItem> readItems(std::string_view query) {
  std::vector<URLQueryItem> items;
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view pair = query.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    URLQueryItem item{decoded(pair.substr(0, equals)), std::nullopt};
    if (equals != std::string_view::npos) item.value = decoded(pair.substr(equals + 1));
    items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool withQuery = in.byte() % 2 == 1;
  std::vector<URLQueryItem> items;
  for (const std::string_view piece : in.fields()) {
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      items.push_back({std::string(piece), std::nullopt});
    } else {
      items.push_back(
          {std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1))});
    }
  }

  const boost::urls::url url =
      appendingQueryItems(boost::urls::url(withQuery ? "https://h/p?x=1" : "https://h/p"), items);
  std::vector<URLQueryItem> expected;
  if (withQuery) expected.push_back({"x", "1"});
  expected.insert(expected.end(), items.begin(), items.end());
  if (expected.empty()) {
    FUZZ_CHECK(!url.has_query());
  } else {
    FUZZ_CHECK(url.has_query());
    FUZZ_CHECK(readItems(url.encoded_query()) == expected);
  }
  return 0;
}
