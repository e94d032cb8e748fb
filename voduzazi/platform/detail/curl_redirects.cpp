#include "voduzazi/platform/detail/curl_redirects.hpp"

#include <algorithm>
#include <array>
#include <boost/algorithm/string/predicate.hpp>
#include <cstdint>
#include <optional>

namespace voduzazi::detail {
namespace {

std::optional<std::uint16_t> port(boost::urls::url_view url) {
  if (url.has_port()) return url.port_number();
  if (boost::algorithm::iequals(url.scheme(), "http")) return 80;
  if (boost::algorithm::iequals(url.scheme(), "https")) return 443;
  return std::nullopt;
}

}  // namespace

bool sameOrigin(boost::urls::url_view a, boost::urls::url_view b) {
  const auto portOfA = port(a);
  return boost::algorithm::iequals(a.scheme(), b.scheme()) &&
         boost::algorithm::iequals(a.encoded_host(), b.encoded_host()) && portOfA &&
         portOfA == port(b);
}

bool isCredential(std::string_view fieldName) {
  static constexpr std::array<std::string_view, 3> names{"apikey", "authorization", "cookie"};
  return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
    return boost::algorithm::iequals(name, fieldName);
  });
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
