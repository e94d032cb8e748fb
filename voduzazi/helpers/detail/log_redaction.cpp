#include "voduzazi/helpers/detail/log_redaction.hpp"

#include <array>
#include <boost/json/error.hpp>
#include <boost/url/encode.hpp>
#include <boost/url/pct_string_view.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

#include "voduzazi/helpers/detail/json_parser.hpp"
#include "voduzazi/helpers/detail/json_writer.hpp"
#include "voduzazi/helpers/detail/utf8.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/query_items.hpp"

namespace voduzazi::detail {
namespace {

constexpr std::string_view redacted = "<redacted>";

// Deep enough for any real body; nesting past it is logged as a placeholder, not raw.
constexpr std::size_t maxLoggedDepth = 512;

// JSON that the parser refused only for its size or nesting, not for its grammar.
bool isJSONBeyondLimits(boost::system::error_code error) {
  namespace json = boost::json;
  return error == json::error::too_deep || error == json::error::exponent_overflow ||
         error == json::error::object_too_large || error == json::error::array_too_large ||
         error == json::error::key_too_large || error == json::error::string_too_large;
}

// Stands for a JSON body that cannot be redacted, so that its secrets never reach the log.
std::string placeholder(const Data& body) {
  return "<JSON body of " + std::to_string(body.size()) + " bytes>";
}

void redact(boost::json::value& json) {
  if (auto* object = json.if_object()) {
    for (auto& member : *object) {
      if (isSecretName(member.key())) {
        member.value() = redacted;
      } else {
        redact(member.value());
      }
    }
  } else if (auto* array = json.if_array()) {
    for (auto& item : *array) redact(item);
  }
}

// "a=1&password=x" gives "a=1&password=<redacted>"; names are compared after decoding.
std::string redactPairs(std::string_view encoded) {
  std::string result;
  std::size_t start = 0;
  while (start <= encoded.size()) {
    const std::size_t end = std::min(encoded.find('&', start), encoded.size());
    const std::string_view pair = encoded.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    const std::string_view name = pair.substr(0, equals);
    if (start > 0) result += '&';
    auto decodedName = boost::urls::make_pct_string_view(name);
    if (equals != std::string_view::npos && decodedName && isSecretName(decodedName->decode())) {
      result += std::string(name) + "=" + std::string(redacted);
    } else {
      result += pair;
    }
    start = end + 1;
  }
  return result;
}

}  // namespace

bool isSecretName(std::string_view name) {
  // "token" is a one-time password in auth bodies and a signature in storage URLs.
  static constexpr std::array<std::string_view, 9> secrets{
      "password", "access_token",   "refresh_token",         "id_token", "code_verifier", "apikey",
      "token",    "provider_token", "provider_refresh_token"};
  for (std::string_view secret : secrets) {
    if (name == secret) return true;
  }
  return false;
}

std::string bodyText(const std::optional<Data>& body, bool formEncoded) {
  if (!body) return "<none>";
  // A form body is never read as JSON: a form that happens to be a JSON string would keep its
  // secrets.
  if (formEncoded) return isValidUTF8(*body) ? redactPairs(*body) : "<failed>";
  boost::system::error_code error;
  boost::json::value json = parseJSON(*body, error, maxLoggedDepth);
  if (!error) {
    redact(json);
    try {
      return writeJSON(json, {.prettyPrinted = true, .sortedKeys = true});
    } catch (const EncodingError&) {
      return placeholder(*body);  // a number JSON text cannot hold (infinity)
    }
  }
  if (isJSONBeyondLimits(error)) return placeholder(*body);
  return isValidUTF8(*body) ? *body : "<failed>";
}

std::string decodedURLText(const boost::urls::url& url) {
  boost::urls::url copy = url;
  if (copy.has_query()) copy.set_encoded_query(redactPairs(copy.encoded_query()));
  // Sign-in redirects carry their tokens as pairs in the fragment.
  if (copy.has_fragment()) copy.set_encoded_fragment(redactPairs(copy.encoded_fragment()));
  auto text = boost::urls::make_pct_string_view(copy.buffer());
  if (!text) return {};
  return text->decode();
}

}  // namespace voduzazi::detail
