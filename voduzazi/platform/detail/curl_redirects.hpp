// What following a redirect changes: where the client's credentials may go, and which
// redirects resend the request's body.
#pragma once

#include <boost/url/url_view.hpp>
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

// Whether a redirect of this status drops the body: 301, 302 and 303 do (and a POST becomes a
// GET; another method keeps its name); 307, 308 and the others resend it.
bool dropsBody(long status);

}  // namespace voduzazi::detail
