// LoggerInterceptor: logs every request, its response or its failure under a fresh request
// identifier that every record written meanwhile carries in its context ("requestID").
//
//   auto logging = std::make_shared<LoggerInterceptor>(logger);
//   HTTPClient client(fetch, {logging});
//   client.send(request);
//   // [verbose] Request: GET https://example.com/rest/v1/items?select=*  Body: <none>
//   // [verbose] Response: Status code: 200 Content-Length: 42  Body: {...}
#pragma once

#include <memory>

#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi {

// Secrets never reach the log: the values of "password", "access_token", "refresh_token",
// "id_token", "code_verifier", "apikey" and "token" in JSON bodies, form bodies and query items are
// written as "<redacted>"; header fields are not logged at all.
// Shared objects: safe (no state besides the logger).
class LoggerInterceptor : public HTTPClientInterceptor {
 public:
  explicit LoggerInterceptor(std::shared_ptr<VoduzaziLogger> logger);

  // Returns next's response unchanged, or rethrows its error unchanged after logging it.
  helpers::HTTPResponse intercept(const helpers::HTTPRequest& request,
                                  const HTTPNext& next) override;

  const std::shared_ptr<VoduzaziLogger>& logger() const noexcept { return logger_; }

 private:
  std::shared_ptr<VoduzaziLogger> logger_;
};

}  // namespace voduzazi
