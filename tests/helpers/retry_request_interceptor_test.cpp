#include "voduzazi/helpers/retry_request_interceptor.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace {

using helpers::HTTPRequest;
using testing::RecordingClock;
using testing::ScriptedFetch;

HTTPRequest request(HTTPMethod method) {
  return HTTPRequest(boost::urls::url("https://example.com/auth/v1/user"), method);
}

struct RetryFixture : ::testing::Test {
  std::shared_ptr<RecordingClock> clock = std::make_shared<RecordingClock>();

  HTTPClient client(ScriptedFetch& fetch, RetryRequestInterceptor::Settings settings = {}) {
    return HTTPClient(fetch.handler(),
                      {std::make_shared<RetryRequestInterceptor>(std::move(settings), clock)});
  }
};

using RetryRequestInterceptorTest = RetryFixture;

TEST_F(RetryRequestInterceptorTest, RetriesATimedOutGETOnceAfterOneSecond) {
  ScriptedFetch fetch(
      {ScriptedFetch::fail(URLError(URLError::Code::timedOut)), ScriptedFetch::status(200, "ok")});
  EXPECT_EQ(client(fetch).send(request(HTTPMethod::get)).data(), "ok");
  EXPECT_EQ(fetch.calls(), 2u);
  EXPECT_EQ(clock->sleeps(), std::vector<double>{1});
}

TEST_F(RetryRequestInterceptorTest, ReturnsTheLastRetryableResponse) {
  ScriptedFetch fetch({ScriptedFetch::status(503, "first"), ScriptedFetch::status(503, "second")});
  EXPECT_EQ(client(fetch).send(request(HTTPMethod::get)).data(), "second");
  EXPECT_EQ(fetch.calls(), 2u);
}

TEST_F(RetryRequestInterceptorTest, DoesNotRetryPOSTOrNonRetryableOutcomes) {
  ScriptedFetch post({ScriptedFetch::fail(URLError(URLError::Code::timedOut))});
  EXPECT_THROW(client(post).send(request(HTTPMethod::post)), URLError);
  EXPECT_EQ(post.calls(), 1u);

  for (int status : {501, 404}) {
    ScriptedFetch fetch({ScriptedFetch::status(status)});
    EXPECT_EQ(client(fetch).send(request(HTTPMethod::get)).statusCode(), status);
    EXPECT_EQ(fetch.calls(), 1u);
  }

  ScriptedFetch other({ScriptedFetch::fail(std::runtime_error("not a URL error"))});
  EXPECT_THROW(client(other).send(request(HTTPMethod::get)), std::runtime_error);
  EXPECT_EQ(other.calls(), 1u);

  ScriptedFetch badURL({ScriptedFetch::fail(URLError(URLError::Code::badURL))});
  EXPECT_THROW(client(badURL).send(request(HTTPMethod::get)), URLError);
  EXPECT_EQ(badURL.calls(), 1u);
}

TEST_F(RetryRequestInterceptorTest, ALimitOfOneOrZeroMakesOneAttempt) {
  for (int limit : {1, 0}) {
    ScriptedFetch fetch({ScriptedFetch::status(503)});
    RetryRequestInterceptor::Settings settings;
    settings.retryLimit = limit;
    client(fetch, settings).send(request(HTTPMethod::get));
    EXPECT_EQ(fetch.calls(), 1u);
  }
}

TEST_F(RetryRequestInterceptorTest, PausesGrowExponentially) {
  RetryRequestInterceptor::Settings settings;
  settings.retryLimit = 4;
  ScriptedFetch fetch({ScriptedFetch::fail(URLError(URLError::Code::cannotConnectToHost))});
  EXPECT_THROW(client(fetch, settings).send(request(HTTPMethod::put)), URLError);
  EXPECT_EQ(fetch.calls(), 4u);
  EXPECT_EQ(clock->sleeps(), (std::vector<double>{1, 2, 4}));

  settings.exponentialBackoffScale = 0.25;
  const RetryRequestInterceptor quarter(settings, clock);
  EXPECT_EQ(quarter.pauseSeconds(1), 0u);
  EXPECT_EQ(quarter.pauseSeconds(2), 1u);
  EXPECT_EQ(quarter.pauseSeconds(3), 2u);
}

TEST_F(RetryRequestInterceptorTest, PauseSaturatesForHugeSettings) {
  RetryRequestInterceptor::Settings settings;
  settings.exponentialBackoffBase = 1000;
  const RetryRequestInterceptor retry(settings, clock);
  EXPECT_EQ(retry.pauseSeconds(100), 18446744073u);  // the largest whole seconds in 64-bit ns
  settings.exponentialBackoffScale = -1;
  EXPECT_EQ(RetryRequestInterceptor(settings, clock).pauseSeconds(1), 0u);
  settings.exponentialBackoffBase = 1;
  EXPECT_THROW(RetryRequestInterceptor(settings, clock), std::invalid_argument);
}

TEST_F(RetryRequestInterceptorTest, CancellingDuringThePauseReturnsTheFirstOutcome) {
  ScriptedFetch fetch({ScriptedFetch::status(503, "first"), ScriptedFetch::status(200, "second")});
  auto httpClient = std::make_shared<HTTPClient>(client(fetch));
  clock->onSleep = [] {
    // Stands for a cancellation that arrives while the pause is under way.
    this_task::sleepFor(std::chrono::hours(1));
  };
  Task<std::string> task(
      [httpClient] { return httpClient->send(request(HTTPMethod::get)).data(); });
  ASSERT_TRUE(testing::eventually([&] { return !clock->sleeps().empty(); }));
  task.cancel();
  EXPECT_EQ(task.value(), "first");
  EXPECT_EQ(fetch.calls(), 1u);
}

TEST(RetryRequestInterceptorDefaults, HoldTheDocumentedSets) {
  EXPECT_EQ(RetryRequestInterceptor::defaultRetryableHTTPMethods().size(), 6u);
  EXPECT_FALSE(RetryRequestInterceptor::defaultRetryableHTTPMethods().contains(HTTPMethod::post));
  EXPECT_FALSE(RetryRequestInterceptor::defaultRetryableHTTPMethods().contains(HTTPMethod::patch));
  EXPECT_EQ(RetryRequestInterceptor::defaultRetryableHTTPStatusCodes(),
            (std::unordered_set<int>{408, 500, 502, 503, 504}));
  EXPECT_EQ(RetryRequestInterceptor::defaultRetryableURLErrorCodes().size(), 18u);
}

}  // namespace
}  // namespace voduzazi
