// URLOpener: how the auth client opens a URL in the user's browser (identity linking, browser
// sign-in). Tests swap in an opener that records the URLs.
//
//   URLOpener opener = URLOpener::live();
//   opener.open(authorizationURL);      // http and https only; others are dropped
#pragma once

#include <boost/url/url.hpp>
#include <functional>

namespace voduzazi::auth {

struct URLOpener {
  // Reports nothing: a URL that cannot be opened is dropped.
  std::function<void(const boost::urls::url&)> open;

  // The desktop's default handler for http and https URLs.
  static URLOpener live();
};

}  // namespace voduzazi::auth
