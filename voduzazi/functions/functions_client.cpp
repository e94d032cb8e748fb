#include "voduzazi/functions/functions_client.hpp"

#include <exception>

#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/logger_interceptor.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/helpers/version.hpp"

namespace voduzazi {
namespace {

std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptorsFor(
    std::shared_ptr<VoduzaziLogger> logger) {
  if (!logger) return {};
  return {std::make_shared<LoggerInterceptor>(std::move(logger))};
}

HTTPFields clientHeaders(const HeaderDictionary& given) {
  HTTPFields headers = makeHTTPFields(given);
  if (!headers.contains(field_names::xClientInfo)) {
    headers.set(field_names::xClientInfo, "functions-cpp/" + std::string(version));
  }
  return headers;
}

bool isSuccess(int status) { return status >= 200 && status <= 299; }

bool isRelayError(const std::optional<std::string>& header) { return header == "true"; }

// Thrown from a stream's handlers to abort the transfer once the stream is over.
struct StreamOver {};

// The body of a streamed invocation's task: feeds the stream until the answer ends or the
// stream is gone.
void runStream(const StreamHandler& stream, const URLRequest& request,
               const AsyncThrowingStream<Data>::Continuation& continuation) {
  try {
    stream(
        request,
        [&](std::string_view chunk) {
          if (continuation.yield(Data(chunk)).isTerminated()) throw StreamOver();
        },
        [&](const HTTPURLResponse& response) {
          if (!isSuccess(response.statusCode())) {
            continuation.finish(
                std::make_exception_ptr(FunctionsError::httpError(response.statusCode(), {})));
            throw StreamOver();
          }
          if (isRelayError(response.value("x-relay-error"))) {
            continuation.finish(std::make_exception_ptr(FunctionsError::relayError()));
            throw StreamOver();
          }
        });
    continuation.finish();
  } catch (const StreamOver&) {
    // Already finished, or nobody reads any more.
  } catch (...) {
    continuation.finish(std::current_exception());
  }
}

}  // namespace

StreamHandler defaultStreamHandler() {
  return [](const URLRequest& request, const URLSession::ChunkHandler& onChunk,
            const URLSession::ResponseHandler& onResponse) {
    return URLSession::shared().stream(request, onChunk, onResponse);
  };
}

FunctionsClient::FunctionsClient(boost::urls::url url, const HeaderDictionary& headers,
                                 RegionName region, std::shared_ptr<VoduzaziLogger> logger,
                                 FetchHandler fetch, StreamHandler stream)
    : url_(std::move(url)),
      region_(std::move(region.text)),
      http_(std::make_shared<HTTPClient>(std::move(fetch), interceptorsFor(std::move(logger)))),
      mutableState_(MutableState{clientHeaders(headers)}),
      stream_(std::move(stream)) {}

void FunctionsClient::setAuth(std::optional<std::string> token) {
  mutableState_.withValue([&](MutableState& state) {
    if (token) {
      state.headers.set(HTTPField::Name::authorization, "Bearer " + *token);
    } else {
      state.headers.set(HTTPField::Name::authorization, std::nullopt);
    }
  });
}

helpers::HTTPRequest FunctionsClient::makeRequest(std::string_view functionName,
                                                  const FunctionInvokeOptions& options) const {
  boost::urls::url url = url_;
  auto segments = url.segments();
  // A trailing slash leaves an empty last segment, which the name takes over.
  if (!segments.empty() && segments.back().empty()) segments.pop_back();
  segments.push_back(functionName);

  HTTPFields headers = merging(mutableState_.value().headers, options.headers);
  if (const auto& region = options.region ? options.region : region_) {
    headers.set(field_names::xRegion, *region);
  }
  const auto method = HTTPMethod::fromRawValue(toString(options.method.value_or(
      FunctionMethod::post)));
  return helpers::HTTPRequest(std::move(url), *method, options.query, std::move(headers),
                              options.body, requestIdleTimeout);
}

helpers::HTTPResponse FunctionsClient::send(std::string_view functionName,
                                            const FunctionInvokeOptions& options) {
  helpers::HTTPResponse response = http_->send(makeRequest(functionName, options));
  if (!isSuccess(response.statusCode())) {
    throw FunctionsError::httpError(response.statusCode(), response.data());
  }
  if (isRelayError(response.headers().get(field_names::xRelayError))) {
    throw FunctionsError::relayError();
  }
  return response;
}

const HTTPURLResponse& FunctionsClient::httpResponse(const helpers::HTTPResponse& response) {
  return *response.underlyingResponse();
}

AsyncThrowingStream<Data> FunctionsClient::invokeWithStreamedResponse(
    std::string_view functionName, const FunctionInvokeOptions& options) const {
  auto [stream, continuation] = AsyncThrowingStream<Data>::makeStream();
  Task<void> transfer = Task<void>::detached(
      [send = stream_, request = makeRequest(functionName, options).urlRequest(), continuation] {
        runStream(send, request, continuation);
      });
  // A stream that ends early (its reader gone or cancelled) aborts the transfer.
  continuation.onTermination([transfer](Termination) { transfer.cancel(); });
  return std::move(stream);
}

}  // namespace voduzazi
