// The logger's body, frame and URL texts never show a secret that a JSON member or a form or query pair
// holds, whatever surrounds it.
//
// Input: a byte choosing a JSON member, a form pair, a URL inside a JSON string value or a query
// inside a URL's fragment, the text before the secret, NUL, the text after it.
#include <boost/url/parse.hpp>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/detail/json_parser.hpp"
#include "voduzazi/helpers/detail/log_redaction.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

namespace {

constexpr std::string_view secret = "hunter2";

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Any JSON, however deep, must be redacted or replaced by a placeholder.
bool isJSON(std::string_view text) {
  boost::system::error_code error;
  (void)detail::parseJSON(text, error, text.size() + 1);
  return !error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int mode = in.byte() % 4;
  const bool form = mode == 1;
  const std::string prefix(in.field());
  const std::string suffix(in.rest());
  if (contains(prefix, secret) || contains(suffix, secret)) return 0;

  if (mode == 3) {
    // A hash router's route with a query of its own, whatever route and items surround it.
    const std::string text =
        "app://cb#" + prefix + "?access_token=" + std::string(secret) + "&" + suffix;
    const auto url = boost::urls::parse_uri(text);
    if (url && !contains(prefix + suffix, "%") && !contains(prefix + suffix, "#")) {
      FUZZ_CHECK(!contains(detail::decodedURLText(*url), secret));
    }
    return 0;
  }

  if (form) {
    const std::string pairs = prefix + "&password=" + std::string(secret) + "&" + suffix;
    FUZZ_CHECK(!contains(detail::bodyText(pairs, true), secret));
    // The URL's text is logged with its escapes decoded, which could spell the secret anew; a
    // "#" would move the pairs out of the query into the fragment.
    const std::string text = "https://h/p?" + pairs;
    const auto url = boost::urls::parse_uri(text);
    if (url && !contains(pairs, "%") && !contains(pairs, "#")) {
      FUZZ_CHECK(!contains(detail::decodedURLText(*url), secret));
    }
    return 0;
  }
  // The secret's member opens an object; what follows it and what surrounds the object is free.
  // Or the secret is an item of a URL in a string value, as a TOTP enrolment's URI holds it.
  const std::string member =
      mode == 2 ? R"({"link":"otpauth://totp/a:b?secret=)" + std::string(secret) + R"(&issuer=a",)"
                : R"({"password":")" + std::string(secret) + R"(",)";
  const Data body = prefix + member + suffix;
  // An escape could spell the secret in another string of the body.
  if (contains(body, "\\")) return 0;
  // A request body pretty-printed, a websocket frame in one line: either way redacted alike.
  for (const std::string& logged : {detail::bodyText(body, false), detail::frameText(body)}) {
    if (isJSON(body)) FUZZ_CHECK(!contains(logged, secret));
    FUZZ_CHECK(contains(logged, secret) == (logged == body));
  }
  return 0;
}
