// URLSession: the HTTP transport over libcurl that every HTTPClient ends in by default. Keep-alive
// connections, DNS answers and TLS sessions are reused by every request of a session, from any
// thread; TLS peers are always verified.
//
//   HTTPClient client(defaultFetch(), {});                      // URLSession::shared()
//   auto [data, response] = URLSession::shared().data(request); // blocks; URLError on failure
//   URLSession::shared().stream(request, [](std::string_view chunk) { consume(chunk); });
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace voduzazi {

namespace detail {
class CurlShare;
class CurlLanes;
}  // namespace detail

// Shared objects: safe; any number of threads may transfer at once, each transfer on its caller's
// thread with connections of its own (an idle connection goes to the next transfer, whatever its
// thread). Lifetime: must outlive its transfers (shared() lives for the whole process).
class URLSession {
 public:
  using ChunkHandler = std::function<void(std::string_view chunk)>;
  using ResponseHandler = std::function<void(const HTTPURLResponse& response)>;

  URLSession();
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // The process-wide session, made on first use and never destroyed.
  static URLSession& shared();

  // Sends the request and returns the whole body with the HTTPURLResponse, whatever its status.
  // The request's timeout bounds connecting and any stretch in which no byte moves either way,
  // never a transfer that keeps moving: a large body over a slow link takes as long as it needs.
  // Bytes count as they pass between the client and the kernel, so an upload body already handed
  // to the kernel and still draining to a slow reader counts as silence. Any positive timeout
  // works (+infinity: no bound on silence); 0 bounds no silence and leaves connecting to
  // libcurl's own limit. Redirects are followed (at most 16); once one leaves the request's
  // origin (scheme, host, port), the fields "apikey", "Authorization" and "Cookie" are not sent
  // again. A body of announced length is collected without regrowing. Throws URLError for
  // transport failures (timedOut when the timeout ran out; badURL for a NaN or negative timeout,
  // or a method or header field holding characters that would break the request's framing) and
  // CancellationError when the calling task is cancelled (the transfer is aborted at once, and
  // nothing is sent when it was cancelled before).
  FetchResult data(const URLRequest& request);

  // As data(), with `body` sent in place of the request's body.
  FetchResult upload(const URLRequest& request, const Data& body);

  // Sends the request and hands each piece of the body to `onChunk` as it arrives, after
  // `onResponse` got the response head (of the last response: a redirect's own head and body
  // reach neither). The timeout bounds connecting and each silence, as for data(), not the whole
  // stream. An exception thrown by a handler aborts the transfer and is
  // rethrown. Returns the response head.
  std::shared_ptr<const HTTPURLResponse> stream(const URLRequest& request,
                                                const ChunkHandler& onChunk,
                                                const ResponseHandler& onResponse = {});

  // data() of this session as a fetch function; the session must outlive it.
  FetchHandler fetchHandler();

 private:
  std::unique_ptr<detail::CurlShare> share_;
  std::unique_ptr<detail::CurlLanes> lanes_;  // destroyed first: their handles use share_
};

// URLSession::shared().fetchHandler().
FetchHandler defaultFetch();

}  // namespace voduzazi
