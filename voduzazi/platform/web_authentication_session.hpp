// WebAuthenticationSession: signs a user in through the system browser. It listens once on
// 127.0.0.1 and a free port for the redirect that ends the sign-in, opens the sign-in URL in the
// browser, answers the redirect with a short page and hands back the full callback URL.
//
//   WebAuthenticationSession session;                         // listening from here on
//   auto signIn = buildSignInURL(session.callbackURL());      // the redirect URL to give out
//   session.options.timeout = std::chrono::minutes(2);
//   boost::urls::url callback = session.start(signIn);        // blocks until the redirect
//
// Distinct objects: safe. Shared objects: unsafe. start() blocks its caller; cancelling the
// calling task ends the wait. Lifetime: the listening socket is closed by start()'s end or the
// destructor, whichever comes first.
#pragma once

#include <boost/url/url.hpp>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace voduzazi {

class WebAuthenticationSessionError : public std::exception {
 public:
  enum class Code {
    canceledLogin,       // the time ran out or the waiting task was cancelled
    browserUnavailable,  // the sign-in URL could not be opened
    invalidCallback,     // the redirect did not carry the expected "state"
  };

  WebAuthenticationSessionError(Code code, std::string message);
  Code code() const noexcept { return code_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Code code_;
  std::string message_;
};

struct WebAuthenticationOptions {
  // How long start() waits for the redirect.
  std::chrono::milliseconds timeout = std::chrono::minutes(5);
  // The text of the page the browser shows after the redirect.
  std::string pageText = "Sign-in complete. You can close this window.";
  // Opens the sign-in URL; false when it cannot. By default the desktop's browser.
  std::function<bool(const boost::urls::url&)> openURL;
  // When set, the redirect must carry this "state" query item.
  std::optional<std::string> expectedState;
};

class WebAuthenticationSession {
 public:
  // Starts listening on 127.0.0.1 and a free port at `callbackPath`. Throws std::system_error
  // when no socket can be bound.
  explicit WebAuthenticationSession(std::string callbackPath = "/auth/callback");
  ~WebAuthenticationSession();
  WebAuthenticationSession(const WebAuthenticationSession&) = delete;
  WebAuthenticationSession& operator=(const WebAuthenticationSession&) = delete;

  // "http://127.0.0.1:<port><callbackPath>": the one URL this session accepts a redirect at.
  const boost::urls::url& callbackURL() const noexcept;

  // Opens `url`, then waits for one request to the callback path (requests to other paths get
  // 404 and do not count) and returns its URL: callbackURL() with the request's query. Closes
  // the listener before it returns. Throws WebAuthenticationSessionError; may be called once.
  boost::urls::url start(const boost::urls::url& url);

  WebAuthenticationOptions options;

 private:
  struct Listener;
  std::unique_ptr<Listener> listener_;
  boost::urls::url callbackURL_;
};

}  // namespace voduzazi
