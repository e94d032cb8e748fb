#include "storage_fakes.hpp"

#include <stdexcept>

#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi::storage::testing {

FakeFetch::FakeFetch(std::vector<Reply> replies) {
  if (replies.empty()) throw std::invalid_argument("FakeFetch: no reply to answer with");
  state_->replies = std::move(replies);
}

FetchHandler FakeFetch::handler() const {
  return [state = state_](const URLRequest& request) {
    Data body =
        request.httpBodyStream ? readAll(*request.httpBodyStream) : request.httpBody.value_or("");
    std::lock_guard lock(state->mutex);
    const Reply reply = state->sent.size() < state->replies.size()
                            ? state->replies[state->sent.size()]
                            : state->replies.back();
    state->sent.push_back({request, std::move(body)});
    return FetchResult{reply.body, std::make_shared<HTTPURLResponse>(request.url, reply.status,
                                                                     HeaderFieldList{})};
  };
}

SentRequest FakeFetch::last() const {
  std::lock_guard lock(state_->mutex);
  if (state_->sent.empty()) throw std::logic_error("nothing was sent");
  return state_->sent.back();
}

std::size_t FakeFetch::count() const {
  std::lock_guard lock(state_->mutex);
  return state_->sent.size();
}

StorageClientConfiguration FakeFetch::configuration(HeaderDictionary headers) const {
  return StorageClientConfiguration{
      .url = boost::urls::url("https://example.com/storage/v1"),
      .headers = std::move(headers),
      .session = StorageHTTPSession(handler(), [](const URLRequest&, const Data&) -> FetchResult {
        throw URLError(URLError::Code::unsupportedURL, "uploads go through fetch");
      })};
}

}  // namespace voduzazi::storage::testing
