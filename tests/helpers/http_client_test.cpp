#include "voduzazi/helpers/http_client.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {
namespace {

using helpers::HTTPRequest;
using helpers::HTTPResponse;
using testing::ScriptedFetch;

HTTPRequest getRequest() {
  return HTTPRequest(boost::urls::url("https://example.com/items"), HTTPMethod::get,
                     {{"select", "*"}});
}

class MarkingInterceptor : public HTTPClientInterceptor {
 public:
  MarkingInterceptor(std::string name,
                     std::shared_ptr<LockIsolated<std::vector<std::string>>> marks)
      : name_(std::move(name)), marks_(std::move(marks)) {}
  HTTPResponse intercept(const HTTPRequest& request, const HTTPNext& next) override {
    mark(name_ + "-before");
    HTTPResponse response = next(request);
    mark(name_ + "-after");
    return response;
  }
  void mark(const std::string& text) {
    marks_->withValue([&](auto& all) { all.push_back(text); });
  }

 private:
  std::string name_;
  std::shared_ptr<LockIsolated<std::vector<std::string>>> marks_;
};

TEST(HTTPClient, WithoutInterceptorsFetchesTheConvertedRequestOnce) {
  ScriptedFetch fetch({ScriptedFetch::status(200, "[1]")});
  HTTPClient client(fetch.handler(), {});
  const HTTPResponse response = client.send(getRequest());
  EXPECT_EQ(response.statusCode(), 200);
  EXPECT_EQ(response.data(), "[1]");
  ASSERT_EQ(fetch.calls(), 1u);
  EXPECT_EQ(fetch.requests()[0].url.buffer(), "https://example.com/items?select=%2A");
  EXPECT_EQ(fetch.requests()[0].httpMethod, "GET");
}

TEST(HTTPClient, RunsInterceptorsOutermostFirst) {
  auto marks = std::make_shared<LockIsolated<std::vector<std::string>>>(std::vector<std::string>{});
  auto a = std::make_shared<MarkingInterceptor>("A", marks);
  auto b = std::make_shared<MarkingInterceptor>("B", marks);
  HTTPClient client(
      [&](const URLRequest& request) {
        b->mark("fetch");
        return ScriptedFetch::status(204)(request);
      },
      {a, b});
  client.send(getRequest());
  EXPECT_EQ(marks->value(),
            (std::vector<std::string>{"A-before", "B-before", "fetch", "B-after", "A-after"}));
}

TEST(HTTPClient, ReturnsErrorStatusesAsResponses) {
  ScriptedFetch fetch({ScriptedFetch::status(500, "boom")});
  HTTPClient client(fetch.handler(), {});
  EXPECT_EQ(client.send(getRequest()).statusCode(), 500);
}

TEST(HTTPClient, ANonHTTPResponseIsABadServerResponse) {
  HTTPClient client(
      [](const URLRequest& request) {
        return FetchResult{"x", std::make_shared<URLResponse>(request.url, 1)};
      },
      {});
  try {
    client.send(getRequest());
    FAIL();
  } catch (const URLError& error) {
    EXPECT_EQ(error.code(), URLError::Code::badServerResponse);
  }
}

TEST(HTTPClient, PassesFetchErrorsThroughUnchanged) {
  ScriptedFetch fetch({ScriptedFetch::fail(std::runtime_error("owner failed"))});
  HTTPClient client(fetch.handler(), {});
  EXPECT_THROW(
      {
        try {
          client.send(getRequest());
        } catch (const std::runtime_error& error) {
          EXPECT_STREQ(error.what(), "owner failed");
          throw;
        }
      },
      std::runtime_error);
}

}  // namespace
}  // namespace voduzazi
