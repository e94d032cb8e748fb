#include "voduzazi/platform/detail/curl_redirects.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <memory>
#include <new>

namespace voduzazi::detail {
namespace {

struct URLDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using ParsedURL = std::unique_ptr<CURLU, URLDeleter>;

// libcurl's reading of a Location as it follows one itself: a raw space or another byte a URL may
// not hold is escaped rather than refused (a space as "%20", or "+" in the query), and the path is
// kept as written.
ParsedURL parse(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return nullptr;
  ParsedURL url(curl_url());
  if (!url) throw std::bad_alloc();
  const std::string terminated(text);
  constexpr unsigned flags =
      CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE | CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS;
  if (curl_url_set(url.get(), CURLUPART_URL, terminated.c_str(), flags) != CURLUE_OK) {
    return nullptr;
  }
  return url;
}

// One part of a parsed URL; nothing when the URL has none.
std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags = 0) {
  char* text = nullptr;
  const CURLUcode result = curl_url_get(url, which, &text, flags);
  const std::unique_ptr<char, decltype(&curl_free)> owned(text, &curl_free);
  if (result == CURLUE_OUT_OF_MEMORY) throw std::bad_alloc();
  if (result != CURLUE_OK || !text) return std::nullopt;
  return std::string(text);
}

// A host in one form: lower case, and an IPv6 address (which libcurl keeps in brackets) in the
// shortest text of its value, so that "[0:0:0:0:0:0:0:1]" is "[::1]".
std::string canonicalHost(std::string host) {
  boost::algorithm::to_lower(host);
  if (host.size() < 2 || host.front() != '[' || host.back() != ']') return host;
  in6_addr address{};
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) != 1 ||
      !inet_ntop(AF_INET6, &address, text, sizeof text)) {
    return host;
  }
  return std::string("[") + text + "]";
}

struct Origin {
  std::string scheme;
  std::string host;
  std::optional<std::string> zone;
  std::string port;
  bool operator==(const Origin&) const = default;
};

std::optional<Origin> originOf(std::string_view text) {
  const ParsedURL url = parse(text);
  if (!url) return std::nullopt;
  auto scheme = part(url.get(), CURLUPART_SCHEME);
  auto host = part(url.get(), CURLUPART_HOST);
  auto port = part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return std::nullopt;
  boost::algorithm::to_lower(*scheme);
  if (*scheme != "http" && *scheme != "https") return std::nullopt;
  return Origin{std::move(*scheme), canonicalHost(std::move(*host)),
                part(url.get(), CURLUPART_ZONEID), std::move(*port)};
}

template <std::size_t count>
bool isOneOf(std::string_view fieldName, const std::array<std::string_view, count>& names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
    return boost::algorithm::iequals(name, fieldName);
  });
}

}  // namespace

bool isRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<std::string> redirectTarget(std::string_view redirectURL) {
  const ParsedURL url = parse(redirectURL);
  if (!url) return std::nullopt;
  return part(url.get(), CURLUPART_URL);
}

bool sameOrigin(std::string_view a, std::string_view b) {
  const auto originOfA = originOf(a);
  return originOfA && originOfA == originOf(b);
}

bool isCredential(std::string_view fieldName) {
  static constexpr std::array<std::string_view, 3> names{"apikey", "authorization", "cookie"};
  return isOneOf(fieldName, names);
}

bool goesWithBody(std::string_view fieldName) {
  static constexpr std::array<std::string_view, 8> names{
      "content-type",   "content-encoding",  "content-language", "content-location",
      "content-length", "transfer-encoding", "expect",           "trailer"};
  return isOneOf(fieldName, names);
}

std::string redirectedMethod(long status, const std::string& method) {
  if (status == 303 && method != "HEAD") return "GET";
  if ((status == 301 || status == 302) && method == "POST") return "GET";
  return method;
}

bool keepsBody(long status, const std::string& method, const std::string& redirectedMethod) {
  return status != 303 && method == redirectedMethod;
}

}  // namespace voduzazi::detail
