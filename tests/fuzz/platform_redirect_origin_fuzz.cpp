// Where a redirect's Location leads: whatever the two URLs, the origin check is symmetric and
// holds between an http(s) URL and itself, and a redirect never turns a method into nothing nor
// carries a body into a changed method.
#include <boost/url/parse.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/platform/detail/curl_redirects.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const auto status = static_cast<long>(300 + in.byte() % 10);
  const std::string method(in.field());
  const auto first = boost::urls::parse_absolute_uri(in.field());
  const auto second = boost::urls::parse_absolute_uri(in.field());
  if (first && second) {
    FUZZ_CHECK(voduzazi::detail::sameOrigin(*first, *second) ==
               voduzazi::detail::sameOrigin(*second, *first));
  }
  if (first && (first->scheme() == "http" || first->scheme() == "https")) {
    FUZZ_CHECK(voduzazi::detail::sameOrigin(*first, *first));
  }
  const std::string next = voduzazi::detail::redirectedMethod(status, method);
  FUZZ_CHECK(next == method || next == "GET");
  if (next != method) FUZZ_CHECK(!voduzazi::detail::keepsBody(status, method, next));
  return 0;
}
