#include "voduzazi/platform/web_authentication_session.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/url/parse.hpp>
#include <stdexcept>
#include <stop_token>
#include <utility>

#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/platform/url_launcher.hpp"

namespace voduzazi {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// How long one connection may take to send its request and read the answer.
constexpr std::chrono::seconds kConnectionDeadline{10};

std::string htmlEscaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string page(std::string_view text) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + htmlEscaped(text) +
         "</title></head><body><p>" + htmlEscaped(text) + "</p></body></html>";
}

}  // namespace

WebAuthenticationSessionError::WebAuthenticationSessionError(Code code, std::string message)
    : code_(code), message_(std::move(message)) {}

// Everything the asynchronous operations touch lives here, beside the context that runs them,
// and only the thread inside start() touches it (a cancellation is posted to that thread).
struct WebAuthenticationSession::Listener {
  using Outcome = std::variant<boost::urls::url, WebAuthenticationSessionError>;

  explicit Listener(std::string path) : callbackPath(std::move(path)) {
    const tcp::endpoint loopback(asio::ip::make_address_v4("127.0.0.1"), 0);
    acceptor.open(loopback.protocol());
    acceptor.bind(loopback);
    acceptor.listen(asio::socket_base::max_listen_connections);
  }

  Outcome wait(const boost::urls::url& callbackURL, const WebAuthenticationOptions& options) {
    base = callbackURL;
    pageText = options.pageText;
    expectedState = options.expectedState;
    timer.expires_after(options.timeout);
    timer.async_wait([this](beast::error_code ec) {
      if (!ec)
        finish(WebAuthenticationSessionError(WebAuthenticationSessionError::Code::canceledLogin,
                                             "The sign-in was not completed in time"));
    });
    std::stop_callback onCancel(this_task::stopToken(), [this] {
      asio::post(ioc, [this] {
        finish(WebAuthenticationSessionError(WebAuthenticationSessionError::Code::canceledLogin,
                                             "The sign-in was cancelled"));
      });
    });
    accept();
    ioc.run();
    return outcome.value_or(Outcome(WebAuthenticationSessionError(
        WebAuthenticationSessionError::Code::canceledLogin, "The sign-in listener stopped")));
  }

  void accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
      if (done) return;
      if (ec) {
        finish(WebAuthenticationSessionError(WebAuthenticationSessionError::Code::canceledLogin,
                                             "The sign-in listener failed: " + ec.message()));
        return;
      }
      stream.emplace(std::move(socket));
      stream->expires_after(kConnectionDeadline);
      buffer.clear();
      request = {};
      http::async_read(*stream, buffer, request,
                       [this](beast::error_code readError, std::size_t) { onRequest(readError); });
    });
  }

  void onRequest(beast::error_code ec) {
    if (done) return;
    if (ec) {
      stream->close();
      accept();
      return;
    }
    const auto target = boost::urls::parse_origin_form(request.target());
    if (!target || request.method() != http::verb::get || target->path() != callbackPath) {
      respond(http::status::not_found, "Not found.", [this] { accept(); });
      return;
    }
    boost::urls::url callback = base;
    if (target->has_query()) callback.set_encoded_query(target->encoded_query());
    if (expectedState && !hasExpectedState(callback)) {
      respond(
          http::status::bad_request, "This sign-in link does not belong to this sign-in.", [this] {
            finish(
                WebAuthenticationSessionError(WebAuthenticationSessionError::Code::invalidCallback,
                                              "The redirect did not carry the expected state"));
          });
      return;
    }
    respond(http::status::ok, pageText, [this, callback] { finish(callback); });
  }

  bool hasExpectedState(const boost::urls::url& callback) const {
    const auto params = boost::urls::url_view(callback).params();
    const auto state = params.find("state");
    return state != params.end() && (*state).has_value && (*state).value == *expectedState;
  }

  template <class Next>
  void respond(http::status status, std::string_view text, Next next) {
    response = http::response<http::string_body>(status, request.version());
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(false);
    response.body() = page(text);
    response.prepare_payload();
    http::async_write(*stream, response, [this, next](beast::error_code, std::size_t) {
      beast::error_code ignored;
      stream->socket().shutdown(tcp::socket::shutdown_send, ignored);
      stream->close();
      if (!done) next();
    });
  }

  void finish(Outcome result) {
    if (done) return;
    done = true;
    outcome = std::move(result);
    beast::error_code ignored;
    acceptor.close(ignored);
    timer.cancel();
    if (stream) stream->close();
  }

  const std::string callbackPath;
  asio::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  asio::steady_timer timer{ioc};
  std::optional<beast::tcp_stream> stream;
  beast::flat_buffer buffer;
  http::request<http::empty_body> request;
  http::response<http::string_body> response;
  boost::urls::url base;
  std::string pageText;
  std::optional<std::string> expectedState;
  bool done = false;
  bool started = false;
  std::optional<Outcome> outcome;
};

WebAuthenticationSession::WebAuthenticationSession(std::string callbackPath)
    : listener_(std::make_unique<Listener>(callbackPath)) {
  callbackURL_ = boost::urls::url("http://127.0.0.1");
  callbackURL_.set_port_number(listener_->acceptor.local_endpoint().port());
  callbackURL_.set_path(callbackPath);
}

WebAuthenticationSession::~WebAuthenticationSession() = default;

const boost::urls::url& WebAuthenticationSession::callbackURL() const noexcept {
  return callbackURL_;
}

boost::urls::url WebAuthenticationSession::start(const boost::urls::url& url) {
  if (listener_->started) throw std::logic_error("A web authentication session starts once");
  listener_->started = true;
  const auto open = options.openURL ? options.openURL : [](const boost::urls::url& address) {
    return openInBrowser(address.buffer());
  };
  if (!open(url)) {
    listener_->finish(
        WebAuthenticationSessionError(WebAuthenticationSessionError::Code::browserUnavailable,
                                      "The sign-in page could not be opened in a browser"));
    throw std::get<WebAuthenticationSessionError>(*listener_->outcome);
  }
  auto outcome = listener_->wait(callbackURL_, options);
  if (auto* error = std::get_if<WebAuthenticationSessionError>(&outcome)) throw *error;
  return std::get<boost::urls::url>(std::move(outcome));
}

}  // namespace voduzazi
