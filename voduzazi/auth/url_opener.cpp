#include "voduzazi/auth/url_opener.hpp"

#include "voduzazi/platform/url_launcher.hpp"

namespace voduzazi::auth {

URLOpener URLOpener::live() {
  return {[](const boost::urls::url& url) { openInBrowser(url.buffer()); }};
}

}  // namespace voduzazi::auth
