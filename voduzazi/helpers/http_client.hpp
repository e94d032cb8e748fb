// HTTPClient: sends request records through an ordered chain of interceptors (the first one
// outermost) to the owner's fetch function, and returns every HTTP response as a record,
// whatever its status.
//
//   auto logging = std::make_shared<LoggerInterceptor>(myLogger);
//   HTTPClient client(defaultFetch(), {logging, std::make_shared<RetryRequestInterceptor>()});
//   helpers::HTTPResponse response = client.send(request);  // URLError on transport failure
//   if (response.statusCode() >= 400) {
//     throw HTTPError(response.data(), response.underlyingResponse());
//   }
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_request.hpp"

namespace voduzazi {

// The rest of the chain, valid only during the intercept call that receives it.
using HTTPNext = std::function<helpers::HTTPResponse(const helpers::HTTPRequest&)>;

// An interceptor may change the request, call next any number of times, or answer by itself.
// Implementations must accept calls from several threads at once.
class HTTPClientInterceptor {
 public:
  virtual ~HTTPClientInterceptor() = default;
  virtual helpers::HTTPResponse intercept(const helpers::HTTPRequest& request,
                                          const HTTPNext& next) = 0;
};

// What every service client holds to send its requests.
class HTTPClientType {
 public:
  virtual ~HTTPClientType() = default;
  virtual helpers::HTTPResponse send(const helpers::HTTPRequest& request) = 0;
};

// Shared objects: safe; concurrent sends run at the same time (nothing changes after
// construction). Lifetime: owns the fetch function and the interceptors.
class HTTPClient : public HTTPClientType {
 public:
  HTTPClient(FetchHandler fetch, std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors);

  // Runs the chain and returns the response record. Rethrows what an interceptor or the fetch
  // function throws; a response that is not an HTTP response throws URLError badServerResponse.
  helpers::HTTPResponse send(const helpers::HTTPRequest& request) override;

 private:
  helpers::HTTPResponse sendFrom(std::size_t index, const helpers::HTTPRequest& request) const;
  helpers::HTTPResponse fetchResponse(const helpers::HTTPRequest& request) const;

  const FetchHandler fetch_;
  const std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors_;
};

}  // namespace voduzazi
