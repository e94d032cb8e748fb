// The parameters of a redirect URL handed to the auth client: any URL reference gives a map
// without throwing; fragment entries never hold "&" in a name, and the result does not depend on
// how often it is read.
//
// Input: URL reference text.
#include <algorithm>
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <boost/url/url_view.hpp>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/auth/detail/callback_parameters.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parsed = boost::urls::parse_uri_reference(FuzzInput::all(data, size));
  if (!parsed) return 0;
  const boost::urls::url url(*parsed);
  const auto params = voduzazi::auth::detail::callbackParameters(url);
  FUZZ_CHECK(params == voduzazi::auth::detail::callbackParameters(url));
  for (const auto& [name, value] : params) {
    FUZZ_CHECK(!name.empty() || !boost::urls::url_view(url).params().empty());
    const bool safe = voduzazi::auth::detail::isHeaderSafe(value);
    const bool hasControl = std::any_of(value.begin(), value.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    FUZZ_CHECK(safe != hasControl);
  }
  return 0;
}
