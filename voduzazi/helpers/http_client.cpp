#include "voduzazi/helpers/http_client.hpp"

#include <utility>

#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {

HTTPClient::HTTPClient(FetchHandler fetch,
                       std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors)
    : fetch_(std::move(fetch)), interceptors_(std::move(interceptors)) {}

helpers::HTTPResponse HTTPClient::send(const helpers::HTTPRequest& request) {
  return sendFrom(0, request);
}

helpers::HTTPResponse HTTPClient::sendFrom(std::size_t index,
                                           const helpers::HTTPRequest& request) const {
  if (index == interceptors_.size()) return fetchResponse(request);
  const HTTPNext next = [this, index](const helpers::HTTPRequest& forwarded) {
    return sendFrom(index + 1, forwarded);
  };
  return interceptors_[index]->intercept(request, next);
}

helpers::HTTPResponse HTTPClient::fetchResponse(const helpers::HTTPRequest& request) const {
  FetchResult result = fetch_(request.urlRequest());
  auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
  if (!http) throw URLError(URLError::Code::badServerResponse);
  return helpers::HTTPResponse(std::move(result.data), std::move(http));
}

}  // namespace voduzazi
