// Ids that the auth client puts into request paths (factor ids, user ids): each stays exactly one
// path segment below the auth URL, reads back unchanged, or is refused with invalid_argument
// (empty, "." or "..", or holding "/", "\" or a control character).
//
// Input: the id.
#include <algorithm>
#include <boost/url/url_view.hpp>
#include <stdexcept>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view id = FuzzInput::all(data, size);
  const boost::urls::url base("https://project.example.com/auth/v1");
  try {
    const auto url = voduzazi::auth::detail::appendingPath(base, {"factors", id, "verify"});
    const auto segments = boost::urls::url_view(url).segments();
    FUZZ_CHECK(segments.size() == 5);
    auto it = segments.begin();
    std::advance(it, 3);
    FUZZ_CHECK(*it == id);
    FUZZ_CHECK(url.host() == "project.example.com");
    FUZZ_CHECK(!url.has_query() && !url.has_fragment());
    FUZZ_CHECK(id.find_first_of("/\\") == std::string_view::npos);
  } catch (const std::invalid_argument&) {
    const bool control = std::any_of(id.begin(), id.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    FUZZ_CHECK(id.empty() || id == "." || id == ".." || control ||
               id.find_first_of("/\\") != std::string_view::npos);
  }
  return 0;
}
