// What following a redirect changes: which answers redirect, where the next request goes, where
// the client's credentials may go, and which redirects resend the request's body and its fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voduzazi::detail {

// The most redirects one request follows.
inline constexpr int kMostRedirects = 16;

// Whether an answer of `status` with a Location redirects: 301, 302, 303, 307 and 308 do; any
// other status (a 304 to a conditional request, say) is the answer itself.
bool isRedirectStatus(long status);

// The URL a redirect leads to, as the next request sends it: libcurl's redirect URL read the way
// libcurl reads a Location it follows itself, a raw space written "%20" ("+" in the query) and the
// other bytes a URL may not hold escaped. Nothing when libcurl cannot read it.
std::optional<std::string> redirectTarget(std::string_view redirectURL);

// Whether two URLs, each read the way libcurl reads it, are http(s) URLs of one origin: the same
// scheme, host and port (a port left out is the scheme's own), letter case aside and an IPv6
// address compared by its value, whatever their paths, queries and fragments hold. False when
// either is no URL libcurl reads.
bool sameOrigin(std::string_view a, std::string_view b);

// Whether a request field carries the client's credentials ("apikey", "Authorization",
// "Cookie"), which go to the request's own origin only.
bool isCredential(std::string_view fieldName);

// Whether a request field goes no further than its body: one that describes it ("Content-Type",
// "Content-Encoding", "Content-Language", "Content-Location", "Content-Length") or promises it
// ("Transfer-Encoding", "Expect", "Trailer").
bool goesWithBody(std::string_view fieldName);

// The method a redirect of `status` goes on with: a 303 turns every method but HEAD into a GET,
// a 301 or 302 turns a POST into a GET, and every other redirect keeps the method.
std::string redirectedMethod(long status, const std::string& method);

// Whether the body goes on with the redirect: not after a 303, nor once the method changed.
// Every other redirect resends it, so that a PUT is never replayed with an empty body.
bool keepsBody(long status, const std::string& method, const std::string& redirectedMethod);

}  // namespace voduzazi::detail
