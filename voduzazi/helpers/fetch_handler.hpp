// FetchHandler: the transport step at the end of every HTTPClient's chain.
//
//   FetchHandler fetch = [](const URLRequest& request) -> FetchResult {
//     return {R"({"ok":true})", std::make_shared<HTTPURLResponse>(request.url, 200, {})};
//   };
//   HTTPClient client(fetch, {});
#pragma once

#include <functional>
#include <memory>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace voduzazi {

struct FetchResult {
  Data data;
  std::shared_ptr<const URLResponse> response;
};

// Called from any thread; blocks until the whole body has arrived. Throws URLError for transport
// failures and CancellationError when the calling task is cancelled.
using FetchHandler = std::function<FetchResult(const URLRequest&)>;

// Sends a request with `body` in place of the request's own; as FetchHandler otherwise.
using UploadHandler = std::function<FetchResult(const URLRequest&, const Data&)>;

}  // namespace voduzazi
