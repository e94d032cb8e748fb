#include "voduzazi/platform/detail/curl_transfer.hpp"

#include <algorithm>
#include <atomic>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/url/parse.hpp>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stop_token>
#include <string>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/platform/detail/curl_errors.hpp"
#include "voduzazi/platform/detail/curl_redirects.hpp"
#include "voduzazi/platform/detail/curl_silence_watch.hpp"
#include "voduzazi/platform/detail/huge_pages.hpp"

namespace voduzazi::detail {
namespace {

struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// A method is a token, and a header field may not break out of its line: either would let a
// caller's text inject requests or fields of its own.
bool isToken(std::string_view text) {
  static constexpr std::string_view delimiters = "\"(),/:;<=>?@[\\]{}";
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c > ' ' && c < 0x7F && delimiters.find(c) == std::string_view::npos;
  });
}

void validate(const URLRequest& request) {
  if (!isToken(request.httpMethod)) throw URLError(URLError::Code::badURL, "invalid method");
  // Neither has a meaning: refused rather than read as "no limit".
  if (std::isnan(request.timeoutInterval) || request.timeoutInterval < 0) {
    throw URLError(URLError::Code::badURL, "invalid time-out interval");
  }
  for (const auto& [name, value] : request.headerFields) {
    if (!isToken(name)) throw URLError(URLError::Code::badURL, "invalid header field name");
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      throw URLError(URLError::Code::badURL, "invalid value of header field \"" + name + "\"");
    }
  }
}

// The most a response body reserves ahead of its bytes.
constexpr curl_off_t kLargestReservation = curl_off_t{1} << 30;

long milliseconds(double seconds) {
  if (!(seconds > 0)) return 0;  // libcurl's own connect limit
  const double ms = std::ceil(seconds * 1000);
  return ms >= static_cast<double>(LONG_MAX) ? LONG_MAX : static_cast<long>(ms);
}

class Transfer {
 public:
  Transfer(CURLSH* share, CurlLanes& lanes, const URLRequest& request, const Data* body,
           const StreamHandlers* stream)
      : lane_(lanes.borrow()),
        stream_(stream),
        request_(request),
        url_(request.url.buffer()),
        method_(request.httpMethod),
        body_(body) {
    if (!body && request.httpBodyStream) {
      bodySource_ = request.httpBodyStream.get();
    } else if (!body && request.httpBody) {
      body_ = &*request.httpBody;
    }
    configureLane(share);
    configure();
  }

  // Follows redirects by hand: libcurl would send every field but its own credentials on to
  // another origin.
  FetchResult run() {
    for (;;) {
      const CURLcode result = drive();
      if (handlerError_) std::rethrow_exception(handlerError_);
      if (result != CURLE_OK) {
        throw URLError(urlErrorCode(result),
                       errorBuffer_[0] ? std::string(errorBuffer_) : curl_easy_strerror(result));
      }
      if (!isRedirect()) break;
      followRedirect();
    }
    auto response = makeResponse();
    if (stream_ && !responseDelivered_) {
      if (auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response)) {
        deliverResponse(*http);
      }
    }
    return {std::move(data_), std::move(response)};
  }

  ~Transfer() {
    // The lane outlives this transfer: no option may keep pointing into it.
    CURL* e = lane_.easy();
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(e, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(e, CURLOPT_SEEKDATA, nullptr);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

 private:
  // The options every transfer of a lane shares, set once per lane: setting them again for
  // each request costs as much as a small request's own work.
  void configureLane(CURLSH* share) {
    if (lane_.configured()) return;
    CURL* e = lane_.easy();
    curl_easy_setopt(e, CURLOPT_SHARE, share);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onData);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &Transfer::onRead);
    curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
    // Paths go out as the caller built them: "a/../b" is the caller's object name, not "b".
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    lane_.markConfigured();
  }

  // The options of one request: the first, or the next after a redirect.
  void configure() {
    CURL* e = lane_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    // Connecting has libcurl's own limit; each silence after it is watched while driving (see
    // drive()). Nothing bounds a transfer that keeps moving. Set every time, so nothing carries
    // over from the lane's last transfer.
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(request_.timeoutInterval));
    configureHeaders(configureMethod(body_));
  }

  // Returns whether a body (perhaps empty) goes out.
  bool configureMethod(const Data* body) {
    CURL* e = lane_.easy();
    const std::string& method = method_;
    // Back to a plain GET first: the lane's last transfer may have been anything.
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    if (method == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
      curl_easy_setopt(e, CURLOPT_POST, 1L);
    } else if (method != "GET" || body || bodySource_) {
      // Any other method, and GET with a body, goes out as a custom request.
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    const bool sendsBody =
        body || bodySource_ || method == "POST" || method == "PUT" || method == "PATCH";
    if (!sendsBody || method == "HEAD") return false;
    if (bodySource_) {
      // A POST whose body comes from the read callback; any other method keeps its name
      // through the custom request set above.
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, nullptr);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(bodySource_->size()));
      curl_easy_setopt(e, CURLOPT_READDATA, this);
      curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
      return true;
    }
    static const char empty[] = "";
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(body ? body->size() : 0));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body ? body->data() : empty);
    return true;
  }

  void configureHeaders(bool sendsBody) {
    headers_.reset();
    bool hasExpect = false;
    bool hasContentType = false;
    for (const auto& [name, value] : request_.headerFields) {
      if (credentialsWithheld_ && isCredential(name)) continue;
      if (bodyDropped_ && goesWithBody(name)) continue;
      hasExpect = hasExpect || boost::algorithm::iequals(name, "Expect");
      hasContentType = hasContentType || boost::algorithm::iequals(name, "Content-Type");
      // "Name;" is how libcurl sends a field with an empty value.
      append(value.empty() ? name + ";" : name + ": " + value);
    }
    if (sendsBody && !hasExpect) append("Expect:");  // no 100-continue round trip
    // libcurl would label any body, even an empty one, as a form.
    if (sendsBody && !hasContentType) append("Content-Type:");
    curl_easy_setopt(lane_.easy(), CURLOPT_HTTPHEADER, headers_.get());
  }

  void append(const std::string& line) {
    curl_slist* list = curl_slist_append(headers_.get(), line.c_str());
    if (!list) throw std::bad_alloc();
    (void)headers_.release();
    headers_.reset(list);
  }

  CURLcode drive() {
    CURLM* multi = lane_.multi();
    if (curl_multi_add_handle(multi, lane_.easy()) != CURLM_OK) throw std::bad_alloc();
    struct Removal {
      CURLM* multi;
      CURL* easy;
      ~Removal() { curl_multi_remove_handle(multi, easy); }
    } removal{multi, lane_.easy()};

    std::atomic<bool> stopped = false;
    std::stop_callback wake(this_task::stopToken(), [&] {
      stopped = true;
      curl_multi_wakeup(multi);
    });
    // A task cancelled before its transfer starts sends nothing.
    if (stopped) throw CancellationError();
    SilenceWatch silence(request_.timeoutInterval, SilenceWatch::Clock::now());
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) return CURLE_FAILED_INIT;
      if (stopped) throw CancellationError();
      if (running == 0) break;
      const auto now = SilenceWatch::Clock::now();
      if (silence.expired(bytesMoved(), now)) throw silenceError(silence.limit());
      const auto wait = static_cast<int>(silence.nextCheck(now).count());
      if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
      if (stopped) throw CancellationError();
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == lane_.easy()) {
        return message->data.result;
      }
    }
    return CURLE_FAILED_INIT;
  }

  // Every byte libcurl counts, either way: the request's head and body sent, the response's
  // header lines and body received. Bytes still in the kernel's buffers are not among them.
  std::uint64_t bytesMoved() const {
    CURL* e = lane_.easy();
    curl_off_t sent = 0;
    curl_off_t received = 0;
    long requestHead = 0;
    long responseHead = 0;
    curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(e, CURLINFO_SIZE_DOWNLOAD_T, &received);
    curl_easy_getinfo(e, CURLINFO_REQUEST_SIZE, &requestHead);
    curl_easy_getinfo(e, CURLINFO_HEADER_SIZE, &responseHead);
    return static_cast<std::uint64_t>(sent) + static_cast<std::uint64_t>(received) +
           static_cast<std::uint64_t>(requestHead) + static_cast<std::uint64_t>(responseHead);
  }

  static URLError silenceError(double limit) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", limit);
    return URLError(URLError::Code::timedOut,
                    std::string("No byte moved for ") + seconds + " seconds");
  }

  // Whether the latest response is a redirect to follow: a redirect status with a Location, as
  // libcurl reads it (CURLINFO_REDIRECT_URL is known only once the response has ended).
  bool isRedirect() const {
    long status = 0;
    curl_easy_getinfo(lane_.easy(), CURLINFO_RESPONSE_CODE, &status);
    if (!isRedirectStatus(status)) return false;
    return std::any_of(headers.begin(), headers.end(), [](const auto& field) {
      return boost::algorithm::iequals(field.first, "Location") && !field.second.empty();
    });
  }

  // Sets up the request the latest response redirects to. Credentials go no further once the
  // chain has left the request's origin, even if it comes back: the other origin chose where.
  void followRedirect() {
    if (redirects_ == kMostRedirects) {
      throw URLError(URLError::Code::httpTooManyRedirects,
                     "Maximum (" + std::to_string(kMostRedirects) + ") redirects followed");
    }
    ++redirects_;
    CURL* e = lane_.easy();
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    const char* next = nullptr;
    curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &next);
    if (!next) throw URLError(URLError::Code::badServerResponse, "unusable redirect location");
    auto target = redirectTarget(next);
    if (!target) throw URLError(URLError::Code::badURL, "unreadable redirect location");
    url_ = std::move(*target);
    if (!sameOrigin(request_.url.buffer(), url_)) credentialsWithheld_ = true;
    std::string method = redirectedMethod(status, method_);
    if (!keepsBody(status, method_, method)) {
      body_ = nullptr;
      bodySource_ = nullptr;
      bodyDropped_ = true;
    }
    method_ = std::move(method);
    headers.clear();
    data_.clear();
    reserved_ = false;
    bodyReader_.reset();
    hopIsRedirect_.reset();
    errorBuffer_[0] = '\0';
    configure();
  }

  std::shared_ptr<const URLResponse> makeResponse() const {
    CURL* e = lane_.easy();
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const char* effective = nullptr;
    curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &effective);
    boost::urls::url url = request_.url;
    if (effective && request_.url.buffer() != effective) {
      if (auto parsed = boost::urls::parse_uri_reference(effective)) url = *parsed;
    }
    if (status == 0) return std::make_shared<URLResponse>(std::move(url), length);
    return std::make_shared<HTTPURLResponse>(std::move(url), static_cast<int>(status), headers,
                                             length);
  }

  void deliverResponse(const HTTPURLResponse& response) {
    responseDelivered_ = true;
    if (stream_->onResponse) stream_->onResponse(response);
  }

  static size_t onHeader(char* buffer, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    // Nothing may throw through libcurl: a failure ends the transfer (any count but the one
    // given) and is rethrown to the caller once libcurl has returned.
    try {
      transfer.takeHeaderLine(std::string_view(buffer, size * count));
      return size * count;
    } catch (...) {
      transfer.handlerError_ = std::current_exception();
      return 0;
    }
  }

  void takeHeaderLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
      headers.clear();  // a new response head: after 1xx
    } else if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      if (!headers.empty()) headers.back().second += " " + std::string(trim(line));
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      headers.emplace_back(std::string(trim(line.substr(0, colon))),
                           std::string(trim(line.substr(colon + 1))));
    }
  }

  static size_t onData(char* buffer, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::string_view chunk(buffer, size * count);
    // Nothing may throw through libcurl: a failure (a body too large for memory, a handler's
    // error) ends the transfer and is rethrown to the caller once libcurl has returned.
    try {
      // A redirect's own body is nobody's: the caller gets the body of the last response.
      if (!transfer.hopIsRedirect_) transfer.hopIsRedirect_ = transfer.isRedirect();
      if (*transfer.hopIsRedirect_) return chunk.size();
      if (!transfer.stream_) {
        if (!transfer.reserved_) transfer.reserveAnnounced();
        transfer.data_.append(chunk);
        return chunk.size();
      }
      if (!transfer.responseDelivered_) {
        auto head = transfer.makeResponse();
        if (auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(head)) {
          transfer.deliverResponse(*http);
        }
      }
      transfer.stream_->onChunk(chunk);
      return chunk.size();
    } catch (...) {
      transfer.handlerError_ = std::current_exception();
      return CURL_WRITEFUNC_ERROR;
    }
  }

  // Room for the announced body at its first piece (a HEAD answer announces a body it never
  // sends), so a large body is not copied as it grows. Capped: a server may announce more than
  // it sends, and what is reserved costs address space, not memory, until bytes fill it.
  void reserveAnnounced() {
    reserved_ = true;
    curl_off_t length = -1;
    curl_easy_getinfo(lane_.easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length > 0) {
      data_.reserve(static_cast<std::size_t>(std::min<curl_off_t>(length, kLargestReservation)));
      preferHugePages(data_.data(), data_.capacity());
    }
  }

  static size_t onRead(char* buffer, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    try {
      if (!transfer.bodyReader_) transfer.bodyReader_ = transfer.bodySource_->open();
      return transfer.bodyReader_->read(buffer, size * count);
    } catch (...) {
      transfer.handlerError_ = std::current_exception();
      return CURL_READFUNC_ABORT;
    }
  }

  // libcurl rewinds the body to send it again (on a kept-alive connection that the server had
  // closed, say): a new pass from the start. A redirect opens a new reader itself.
  static int onSeek(void* self, curl_off_t offset, int origin) {
    auto& transfer = *static_cast<Transfer*>(self);
    if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
    transfer.bodyReader_.reset();
    return CURL_SEEKFUNC_OK;
  }

  static std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
  }

  CurlLanes::Lease lane_;
  std::unique_ptr<curl_slist, ListDeleter> headers_;
  const StreamHandlers* stream_;
  const URLRequest& request_;
  // What the current request sends: the caller's, or what the last redirect left of it.
  std::string url_;
  std::string method_;
  const Data* body_;
  const BodySource* bodySource_ = nullptr;
  bool credentialsWithheld_ = false;
  // The caller's fields that describe or promise the body go with it: a length or a chunked
  // framing left behind would make the server wait for a body that never comes.
  bool bodyDropped_ = false;
  int redirects_ = 0;
  std::optional<bool> hopIsRedirect_;
  std::unique_ptr<BodyReader> bodyReader_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  Data data_;
  bool responseDelivered_ = false;
  bool reserved_ = false;
  std::exception_ptr handlerError_;

 public:
  HeaderFieldList headers;  // of the latest response head
};

}  // namespace

FetchResult performTransfer(CURLSH* share, CurlLanes& lanes, const URLRequest& request,
                            const Data* body, const StreamHandlers* stream) {
  validate(request);
  return Transfer(share, lanes, request, body, stream).run();
}

}  // namespace voduzazi::detail
