// What following a redirect changes: where the client's credentials may go, and which
// redirects resend the request's body.
#pragma once

#include <boost/url/url_view.hpp>
#include <string>
#include <string_view>

namespace voduzazi::detail {

// The most redirects one request follows.
inline constexpr int kMostRedirects = 16;

// Whether two absolute URLs share scheme, host and port (a port left out is the scheme's own),
// compared without regard to letter case.
bool sameOrigin(boost::urls::url_view a, boost::urls::url_view b);

// Whether a request field carries the client's credentials ("apikey", "Authorization",
// "Cookie"), which go to the request's own origin only.
bool isCredential(std::string_view fieldName);

// The method a redirect of `status` goes on with: a 303 turns every method but HEAD into a GET,
// a 301 or 302 turns a POST into a GET, and every other redirect keeps the method.
std::string redirectedMethod(long status, const std::string& method);

// Whether the body goes on with the redirect: not after a 303, nor once the method changed.
// Every other redirect resends it, so that a PUT is never replayed with an empty body.
bool keepsBody(long status, const std::string& method, const std::string& redirectedMethod);

}  // namespace voduzazi::detail
