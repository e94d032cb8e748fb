// FunctionsClient: invokes the project's edge functions over HTTP, with a method, headers, an
// optional body and region, and either a decoded answer or the answer's bytes as they arrive.
//
//   FunctionsClient functions(functionsURL, {{"Authorization", "Bearer " + key}}, "eu-west-1",
//                             nullptr, defaultFetch());
//   functions.invoke("hello", FunctionInvokeOptions::withBody(Greeting{"ada"}));
//   auto reply = functions.invoke<Reply>("hello", {}, JSONDecoder());
//   for (const Data& chunk : functions.invokeWithStreamedResponse("feed")) show(chunk);
//
// Non-success answers throw FunctionsError: httpError for a status outside 200...299 (with the
// body; empty in a stream), else relayError when the answer carries "x-relay-error: true".
#pragma once

#include <boost/url/url.hpp>
#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/functions/function_invoke_options.hpp"
#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {

// Sends a request and hands the body on piece by piece, as URLSession::stream does.
using StreamHandler = std::function<std::shared_ptr<const HTTPURLResponse>(
    const URLRequest&, const URLSession::ChunkHandler&, const URLSession::ResponseHandler&)>;

// URLSession::shared().stream.
StreamHandler defaultStreamHandler();

// Shared objects: safe; setAuth may run while invocations are sent, each of which uses the
// headers as they were when its request was built. Lifetime: a stream handed out keeps what it
// needs and may outlive the client.
class FunctionsClient {
 public:
  struct MutableState {
    HTTPFields headers;
  };

  // The timeout of every invocation: of the whole answer, or of each silence in a stream.
  static constexpr double requestIdleTimeout = 150;

  // `headers` become the client headers, with "X-Client-Info: functions-cpp/<version>" unless
  // they name one. Ordinary invocations go through `fetch` (logged when there is a logger),
  // streamed ones through `stream`.
  FunctionsClient(boost::urls::url url, const HeaderDictionary& headers, RegionName region,
                  std::shared_ptr<VoduzaziLogger> logger, FetchHandler fetch,
                  StreamHandler stream = defaultStreamHandler());

  const boost::urls::url& url() const noexcept { return url_; }
  const std::optional<std::string>& region() const noexcept { return region_; }
  HTTPFields headers() const { return mutableState_.value().headers; }

  // With a token, "Authorization: Bearer <token>" replaces every earlier one; without, every
  // "Authorization" field goes.
  void setAuth(std::optional<std::string> token);

  // The answer handed to `decode` (body and HTTP response); returns what it returns.
  template <class Decode>
  requires std::invocable<Decode&, const Data&, const HTTPURLResponse&>
  auto invoke(std::string_view functionName, const FunctionInvokeOptions& options,
              Decode&& decode) {
    helpers::HTTPResponse response = send(functionName, options);
    return decode(response.data(), httpResponse(response));
  }
  // The answer's body decoded as T; throws the decoder's DecodingError.
  template <class T>
  T invoke(std::string_view functionName, const FunctionInvokeOptions& options,
           const JSONDecoder& decoder) {
    return send(functionName, options).decoded<T>(decoder);
  }
  void invoke(std::string_view functionName, const FunctionInvokeOptions& options = {}) {
    send(functionName, options);
  }

  // Returns at once; the request goes out on a task of its own. The stream yields the body's
  // pieces as they arrive and fails with FunctionsError or the transport's error; letting go of
  // the stream (or cancelling its reader) aborts the transfer.
  AsyncThrowingStream<Data> invokeWithStreamedResponse(
      std::string_view functionName, const FunctionInvokeOptions& options = {}) const;

  // The request an invocation sends.
  helpers::HTTPRequest makeRequest(std::string_view functionName,
                                   const FunctionInvokeOptions& options) const;

 private:
  helpers::HTTPResponse send(std::string_view functionName, const FunctionInvokeOptions& options);
  static const HTTPURLResponse& httpResponse(const helpers::HTTPResponse& response);

  const boost::urls::url url_;
  const std::optional<std::string> region_;
  const std::shared_ptr<HTTPClientType> http_;
  LockIsolated<MutableState> mutableState_;
  const StreamHandler stream_;
};

}  // namespace voduzazi
