// Maps libcurl's result codes onto URL error codes.
#pragma once

#include <curl/curl.h>

#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi::detail {

// Timeouts, refused connections, lost connections, DNS and TLS failures get the codes the retry
// interceptor knows; anything unexpected is `unknown`.
URLError::Code urlErrorCode(CURLcode code);

}  // namespace voduzazi::detail
