#include "voduzazi/platform/web_authentication_session.hpp"

#include <gtest/gtest.h>

#include <boost/url/url_view.hpp>
#include <memory>
#include <thread>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {
namespace {

using Code = WebAuthenticationSessionError::Code;

// A "browser" that, when asked to open a page, visits the given addresses one after another on
// its own thread and keeps their status codes.
class TestBrowser {
 public:
  ~TestBrowser() { join(); }

  void join() {
    if (thread_.joinable()) thread_.join();
  }

  std::function<bool(const boost::urls::url&)> visiting(std::vector<std::string> addresses) {
    return [this, addresses](const boost::urls::url& page) {
      opened = std::string(page.buffer());
      thread_ = std::thread([this, addresses] {
        for (const auto& address : addresses) {
          std::string body;
          statuses.push_back(visit(address, &body));
          bodies.push_back(std::move(body));
        }
      });
      return true;
    };
  }

  static int visit(const std::string& address, std::string* body = nullptr) {
    URLRequest request;
    request.url = boost::urls::url(address);
    try {
      const auto result = URLSession::shared().data(request);
      if (body) *body = result.data;
      return dynamic_cast<const HTTPURLResponse&>(*result.response).statusCode();
    } catch (const std::exception&) {
      return -1;  // refused: nobody listens any more
    }
  }

  std::string opened;
  std::vector<int> statuses;
  std::vector<std::string> bodies;

 private:
  std::thread thread_;
};

// The code start() fails with; -1 when it returns.
int failureOf(WebAuthenticationSession& session) {
  try {
    session.start(boost::urls::url("https://idp.example/login"));
  } catch (const WebAuthenticationSessionError& error) {
    return static_cast<int>(error.code());
  }
  return -1;
}

std::string at(const WebAuthenticationSession& session, std::string_view pathAndQuery) {
  boost::urls::url url = session.callbackURL();
  url.set_encoded_path("");
  return std::string(url.buffer()) + std::string(pathAndQuery);
}

TEST(WebAuthenticationSession, ListensOnLoopbackAndHandsBackTheFullCallbackURL) {
  WebAuthenticationSession session;
  EXPECT_EQ(session.callbackURL().host(), "127.0.0.1");
  EXPECT_EQ(session.callbackURL().path(), "/auth/callback");
  TestBrowser browser;
  // The icon request comes first and must not end the wait.
  session.options.openURL = browser.visiting(
      {at(session, "/favicon.ico"), at(session, "/auth/callback?code=abc%20d&state=s")});

  const boost::urls::url callback = session.start(boost::urls::url("https://idp.example/login"));

  EXPECT_EQ(browser.opened, "https://idp.example/login");
  EXPECT_EQ(callback.buffer(),
            std::string(session.callbackURL().buffer()) + "?code=abc%20d&state=s");
  browser.join();
  EXPECT_EQ(browser.statuses, (std::vector<int>{404, 200}));
  EXPECT_EQ(TestBrowser::visit(at(session, "/auth/callback?code=again")), -1);  // closed now
}

TEST(WebAuthenticationSession, AnswersTheCallbackWithTheConfiguredPageEscaped) {
  WebAuthenticationSession session;
  session.options.pageText = "Done <here>";
  TestBrowser browser;
  session.options.openURL = browser.visiting({at(session, "/auth/callback?code=1")});
  session.start(boost::urls::url("https://idp.example/login"));
  browser.join();
  ASSERT_EQ(browser.bodies.size(), 1u);
  EXPECT_NE(browser.bodies[0].find("Done &lt;here&gt;"), std::string::npos);
}

TEST(WebAuthenticationSession, RunningOutOfTimeIsACancelledLogin) {
  WebAuthenticationSession session;
  session.options.timeout = std::chrono::milliseconds(50);
  session.options.openURL = [](const boost::urls::url&) { return true; };
  EXPECT_EQ(failureOf(session), static_cast<int>(Code::canceledLogin));
}

TEST(WebAuthenticationSession, CancellingTheWaitingTaskEndsTheWait) {
  auto session = std::make_shared<WebAuthenticationSession>();
  session->options.openURL = [](const boost::urls::url&) { return true; };
  Task<int> waiting([session] { return failureOf(*session); });
  waiting.cancel();
  EXPECT_EQ(waiting.value(), static_cast<int>(Code::canceledLogin));
}

TEST(WebAuthenticationSession, ACallbackWithoutTheExpectedStateFails) {
  WebAuthenticationSession session;
  session.options.expectedState = "s1";
  TestBrowser browser;
  session.options.openURL = browser.visiting({at(session, "/auth/callback?code=x&state=s2")});
  EXPECT_EQ(failureOf(session), static_cast<int>(Code::invalidCallback));
}

TEST(WebAuthenticationSession, ABrowserThatCannotOpenFailsAtOnce) {
  WebAuthenticationSession session;
  session.options.openURL = [](const boost::urls::url&) { return false; };
  EXPECT_EQ(failureOf(session), static_cast<int>(Code::browserUnavailable));
  EXPECT_THROW(session.start(boost::urls::url("https://idp.example/login")), std::logic_error);
}

}  // namespace
}  // namespace voduzazi
