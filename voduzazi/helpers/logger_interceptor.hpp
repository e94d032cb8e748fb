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
#include <string>
#include <vector>

#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/logger.hpp"

namespace voduzazi {

// Secrets never reach the log: the values of "password", "access_token", "refresh_token",
// "id_token", "code_verifier", "apikey", "token", "secret" and the other secret names of
// detail::isSecretName in JSON bodies, form bodies and query items (and "code" in URLs, also
// inside string values) are written as "<redacted>"; header fields are not logged at all.
// Shared objects: safe (no state besides the logger and the names).
class LoggerInterceptor : public HTTPClientInterceptor {
 public:
  // `requestSecretNames`: more members redacted in the request bodies of this client only (a
  // one-time "code" is a secret in auth requests, an error code elsewhere).
  explicit LoggerInterceptor(std::shared_ptr<VoduzaziLogger> logger,
                             std::vector<std::string> requestSecretNames = {});

  // Returns next's response unchanged, or rethrows its error unchanged after logging it.
  helpers::HTTPResponse intercept(const helpers::HTTPRequest& request,
                                  const HTTPNext& next) override;

  const std::shared_ptr<VoduzaziLogger>& logger() const noexcept { return logger_; }

 private:
  std::shared_ptr<VoduzaziLogger> logger_;
  std::vector<std::string> requestSecretNames_;
};

}  // namespace voduzazi
