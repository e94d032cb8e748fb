#include "voduzazi/platform/url_session.hpp"

#include "voduzazi/platform/detail/curl_lanes.hpp"
#include "voduzazi/platform/detail/curl_share.hpp"
#include "voduzazi/platform/detail/curl_transfer.hpp"

namespace voduzazi {

URLSession::URLSession()
    : share_(std::make_unique<detail::CurlShare>()), lanes_(std::make_unique<detail::CurlLanes>()) {}

URLSession::~URLSession() = default;

URLSession& URLSession::shared() {
  static URLSession* session = new URLSession();  // never destroyed: transfers may run at exit
  return *session;
}

FetchResult URLSession::data(const URLRequest& request) {
  return detail::performTransfer(share_->handle(), *lanes_, request, nullptr, nullptr);
}

FetchResult URLSession::upload(const URLRequest& request, const Data& body) {
  return detail::performTransfer(share_->handle(), *lanes_, request, &body, nullptr);
}

std::shared_ptr<const HTTPURLResponse> URLSession::stream(const URLRequest& request,
                                                          const ChunkHandler& onChunk,
                                                          const ResponseHandler& onResponse) {
  const detail::StreamHandlers handlers{onChunk, onResponse};
  FetchResult result = detail::performTransfer(share_->handle(), *lanes_, request, nullptr,
                                                     &handlers);
  return std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
}

FetchHandler URLSession::fetchHandler() {
  return [this](const URLRequest& request) { return data(request); };
}

FetchHandler defaultFetch() { return URLSession::shared().fetchHandler(); }

}  // namespace voduzazi
