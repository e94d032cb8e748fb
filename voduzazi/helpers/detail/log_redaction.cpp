#include "voduzazi/helpers/detail/log_redaction.hpp"

#include <algorithm>
#include <array>
#include <boost/json/error.hpp>
#include <boost/url/encode.hpp>
#include <boost/url/parse.hpp>
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
std::string placeholder(std::string_view body) {
  return "<JSON body of " + std::to_string(body.size()) + " bytes>";
}

using NamePredicate = bool (*)(std::string_view);

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte at `at`, an escape "%XX" read as the byte it stands for; `width` receives its length.
char decodedAt(std::string_view text, std::size_t at, std::size_t& width) {
  if (text[at] == '%' && text.size() - at >= 3) {
    const int high = hexValue(text[at + 1]);
    const int low = hexValue(text[at + 2]);
    if (high >= 0 && low >= 0) {
      width = 3;
      return static_cast<char>(high * 16 + low);
    }
  }
  width = 1;
  return text[at];
}

// Where the secret value inside one "&"-separated pair starts, or npos. Besides the pair's own
// name, a name that follows a "?", "&" or "#" inside it counts: a hash router's fragment
// ("#/route?access_token=...") or a URL held in a value has a query of its own. Names are read
// decoded, as the log shows them, so escaped separators separate too.
std::size_t secretValueStart(std::string_view pair, NamePredicate isSecret) {
  std::string name;
  bool inName = true;
  std::size_t width = 1;
  for (std::size_t at = 0; at < pair.size(); at += width) {
    const char c = decodedAt(pair, at, width);
    if (c == '?' || c == '&' || c == '#') {
      name.clear();
      inName = true;
    } else if (c == '=' && inName) {
      if (isSecret(name)) return at + width;
      inName = false;
    } else if (inName) {
      name += c;
    }
  }
  return std::string_view::npos;
}

// "a=1&password=x" gives "a=1&password=<redacted>", and "r?access_token=x" gives
// "r?access_token=<redacted>": from a secret name on, the rest of its pair is redacted.
std::string redactPairs(std::string_view encoded, NamePredicate isSecret) {
  std::string result;
  std::size_t start = 0;
  while (start <= encoded.size()) {
    const std::size_t end = std::min(encoded.find('&', start), encoded.size());
    const std::string_view pair = encoded.substr(start, end - start);
    if (start > 0) result += '&';
    const std::size_t secret = secretValueStart(pair, isSecret);
    if (secret == std::string_view::npos) {
      result += pair;
    } else {
      result += std::string(pair.substr(0, secret)) + std::string(redacted);
    }
    start = end + 1;
  }
  return result;
}

// The URL with its secret query and fragment items redacted, still encoded.
boost::urls::url withSecretItemsRedacted(boost::urls::url url) {
  if (url.has_query()) {
    url.set_encoded_query(redactPairs(url.encoded_query(), isSecretURLItemName));
  }
  // Sign-in redirects carry their tokens as pairs in the fragment.
  if (url.has_fragment()) {
    url.set_encoded_fragment(redactPairs(url.encoded_fragment(), isSecretURLItemName));
  }
  return url;
}

// A string value that is a URL with a query or fragment ("otpauth://totp/x?secret=...") gets
// its secret items redacted; any other string stays as it is.
void redactURLInside(boost::json::string& text) {
  const std::string_view view(text);
  if (view.find("://") == std::string_view::npos ||
      view.find_first_of("?#") == std::string_view::npos) {
    return;
  }
  const auto parsed = boost::urls::parse_uri(view);
  if (!parsed) return;
  text = withSecretItemsRedacted(boost::urls::url(*parsed)).buffer();
}

void redact(boost::json::value& json, const std::vector<std::string>& moreSecretNames) {
  if (auto* object = json.if_object()) {
    for (auto& member : *object) {
      const std::string_view key = member.key();
      if (isSecretName(key) ||
          std::find(moreSecretNames.begin(), moreSecretNames.end(), key) != moreSecretNames.end()) {
        member.value() = redacted;
      } else {
        redact(member.value(), moreSecretNames);
      }
    }
  } else if (auto* array = json.if_array()) {
    for (auto& item : *array) redact(item, moreSecretNames);
  } else if (auto* text = json.if_string()) {
    redactURLInside(*text);
  }
}

// JSON written back with its secrets redacted; text that is not JSON as it is.
std::string redactedText(std::string_view text, const JSONWriteOptions& layout,
                         const std::vector<std::string>& moreSecretNames) {
  boost::system::error_code error;
  boost::json::value json = parseJSON(text, error, maxLoggedDepth);
  if (!error) {
    redact(json, moreSecretNames);
    try {
      return writeJSON(json, layout);
    } catch (const EncodingError&) {
      return placeholder(text);  // a number JSON text cannot hold (infinity)
    }
  }
  if (isJSONBeyondLimits(error)) return placeholder(text);
  return isValidUTF8(text) ? std::string(text) : "<failed>";
}

}  // namespace

bool isSecretName(std::string_view name) {
  // "token" is a one-time password in auth bodies and a signature in storage URLs; "secret",
  // "qr_code" and "uri" each carry a TOTP shared secret, from which anyone can make codes;
  // "nonce" is the emailed reauthentication code that confirms a password change; "user_token"
  // is the access token in the older realtime client's joins.
  static constexpr std::array<std::string_view, 19> secrets{
      "password",      "access_token",   "refresh_token",
      "id_token",      "code_verifier",  "apikey",
      "token",         "provider_token", "provider_refresh_token",
      "secret",        "qr_code",        "uri",
      "auth_code",     "token_hash",     "nonce",
      "password_hash", "captcha_token",  "email_change_token",
      "user_token"};
  return std::find(secrets.begin(), secrets.end(), name) != secrets.end();
}

bool isSecretURLItemName(std::string_view name) { return name == "code" || isSecretName(name); }

std::string bodyText(const std::optional<Data>& body, bool formEncoded,
                     const std::vector<std::string>& moreSecretNames) {
  if (!body) return "<none>";
  // A form body is never read as JSON: a form that happens to be a JSON string would keep its
  // secrets.
  if (formEncoded) return isValidUTF8(*body) ? redactPairs(*body, isSecretName) : "<failed>";
  return redactedText(*body, {.prettyPrinted = true, .sortedKeys = true}, moreSecretNames);
}

std::string frameText(std::string_view text) { return redactedText(text, {}, {}); }

JSONObject redactedObject(const JSONObject& object) {
  // Through the JSON form, so that the very rules of logged bodies apply, URLs in strings too.
  boost::json::value json = AnyJSON(object).toJSON();
  redact(json, {});
  return *AnyJSON::fromJSON(json).objectValue();
}

std::string decodedURLText(const boost::urls::url& url) {
  const boost::urls::url copy = withSecretItemsRedacted(url);
  auto text = boost::urls::make_pct_string_view(copy.buffer());
  if (!text) return {};
  return text->decode();
}

}  // namespace voduzazi::detail
