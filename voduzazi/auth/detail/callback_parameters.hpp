// The parameters of a redirect URL that came back from the authentication server: the fragment's
// "name=value" pieces as they stand, then the query items (percent-decoded), which win.
//
//   auto params = detail::callbackParameters(boost::urls::url(
//       "app://cb?type=recovery#access_token=a&expires_in=3600"));
//   // {"access_token": "a", "expires_in": "3600", "type": "recovery"}
#pragma once

#include <boost/url/url_view.hpp>
#include <map>
#include <string>
#include <string_view>

namespace voduzazi::auth::detail {

// Fragment pieces need exactly one "=" with text on both sides; a later piece of the same name
// wins. A query item with a value sets its entry, one without a value removes it. Never throws.
std::map<std::string, std::string> callbackParameters(boost::urls::url_view url);

// True when `text` holds no control characters (below 0x20, or 0x7F), so it may go into a
// header.
bool isHeaderSafe(std::string_view text);

}  // namespace voduzazi::auth::detail
