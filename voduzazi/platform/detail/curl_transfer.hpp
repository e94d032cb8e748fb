// One HTTP transfer over libcurl, run on the calling thread.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string_view>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/url_request.hpp"
#include "voduzazi/platform/detail/curl_lanes.hpp"

namespace voduzazi::detail {

// For streamed transfers: the body goes to onChunk instead of the result.
struct StreamHandlers {
  const std::function<void(std::string_view)>& onChunk;
  const std::function<void(const HTTPURLResponse&)>& onResponse;
};

// Sends `request` (with `body` in place of its own when given) on a lane of `lanes` and waits for
// the whole response. Throws URLError for transport failures and for a method or header field
// that could break the request's framing (badURL), CancellationError when the calling task is
// cancelled, and what a stream handler throws.
FetchResult performTransfer(CURLSH* share, CurlLanes& lanes, const URLRequest& request,
                            const Data* body, const StreamHandlers* stream);

}  // namespace voduzazi::detail
