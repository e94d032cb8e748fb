#include "voduzazi/helpers/logger_interceptor.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <utility>

#include "voduzazi/helpers/detail/log_redaction.hpp"

namespace voduzazi {
namespace {

std::string newRequestID() {
  thread_local boost::uuids::random_generator generate;
  return boost::algorithm::to_upper_copy(boost::uuids::to_string(generate()));
}

bool isFormEncoded(const URLRequest& request) {
  const auto type = request.value("Content-Type");
  // Media types are case-insensitive.
  return type &&
         boost::algorithm::to_lower_copy(*type).starts_with("application/x-www-form-urlencoded");
}

}  // namespace

LoggerInterceptor::LoggerInterceptor(std::shared_ptr<VoduzaziLogger> logger,
                                     std::vector<std::string> requestSecretNames)
    : logger_(std::move(logger)), requestSecretNames_(std::move(requestSecretNames)) {}

helpers::HTTPResponse LoggerInterceptor::intercept(const helpers::HTTPRequest& request,
                                                   const HTTPNext& next) {
  return VoduzaziLoggerTaskLocal::withValue({{"requestID", newRequestID()}}, [&] {
    const URLRequest urlRequest = request.urlRequest();
    logger_->verbose(
        "Request: " + urlRequest.httpMethod + " " + detail::decodedURLText(urlRequest.url) +
        "\nBody: " +
        detail::bodyText(urlRequest.httpBody, isFormEncoded(urlRequest), requestSecretNames_));
    try {
      helpers::HTTPResponse response = next(request);
      const auto& underlying = response.underlyingResponse();
      logger_->verbose("Response: Status code: " + std::to_string(response.statusCode()) +
                       " Content-Length: " +
                       std::to_string(underlying ? underlying->expectedContentLength() : -1) +
                       "\nBody: " + detail::bodyText(response.data()));
      return response;
    } catch (...) {
      logger_->error("Response: Failure " + detail::currentExceptionText());
      throw;
    }
  });
}

}  // namespace voduzazi
