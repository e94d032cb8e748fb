#include "voduzazi/platform/url_session.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loopback_server.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/retry_request_interceptor.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::firstOf;
using testing::Gate;
using testing::lastOf;
using testing::LoopbackServer;
using testing::trickled;

LoopbackServer::Response route(const LoopbackServer::Request& request, Gate& gate) {
  LoopbackServer::Response response;
  if (request.target == "/items") {
    response.headers = {{"Content-Type", "application/json"},
                        {"Link", "<https://x/1>; rel=\"next\""},
                        {"Link", "<https://x/9>; rel=\"last\""}};
    response.body = R"([{"id":1}])";
  } else if (request.target == "/echo") {
    response.headers = {{"X-Method", request.method}};
    response.body = request.body;
  } else if (request.target == "/created") {
    response.status = 201;
  } else if (request.target == "/empty") {
    response.status = 204;
  } else if (request.target == "/missing") {
    response.status = 404;
    response.body = R"({"message":"not found"})";
  } else if (request.target == "/slow") {
    response.beforeResponse = [&gate] { gate.wait(); };
  } else if (request.target == "/stream") {
    response.chunks = {"first ", "second ", "third"};
  } else if (request.target == "/stalling-stream") {
    response.chunks = {"first ", "never"};
    response.betweenChunks = [&gate] { gate.wait(); };
  }
  return response;
}

class URLSessionTest : public ::testing::Test {
 protected:
  ~URLSessionTest() override { gate.open(); }

  URLRequest request(const std::string& path, const std::string& method = "GET") {
    URLRequest r;
    r.url = boost::urls::url(server.url(path));
    r.httpMethod = method;
    return r;
  }

  Gate gate;
  LoopbackServer server{[this](const LoopbackServer::Request& r) { return route(r, gate); }};
  URLSession session;
};

std::shared_ptr<const HTTPURLResponse> http(const FetchResult& result) {
  auto response = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
  EXPECT_TRUE(response);
  return response;
}

TEST_F(URLSessionTest, GetsStatusBodyAndHeadersInWireOrder) {
  const FetchResult result = session.data(request("/items"));
  const auto response = http(result);
  EXPECT_EQ(response->statusCode(), 200);
  EXPECT_EQ(result.data, R"([{"id":1}])");
  EXPECT_EQ(response->expectedContentLength(), 10);
  EXPECT_EQ(response->value("link"), "<https://x/1>; rel=\"next\", <https://x/9>; rel=\"last\"");
  EXPECT_EQ(response->url().buffer(), server.url("/items"));
}

TEST_F(URLSessionTest, HeadReturnsTheHeadWithoutABody) {
  const FetchResult result = session.data(request("/items", "HEAD"));
  EXPECT_EQ(http(result)->statusCode(), 200);
  EXPECT_TRUE(result.data.empty());
  EXPECT_EQ(lastOf(server.requests(), "the requests received").method, "HEAD");
}

TEST_F(URLSessionTest, SendsBodiesWithEveryMethodThatCarriesOne) {
  for (const char* method : {"POST", "PUT", "PATCH", "DELETE", "GET"}) {
    URLRequest r = request("/echo", method);
    r.headerFields = {{"Content-Type", "application/json"}, {"X-Tag", "a"}, {"X-Tag", "b"}};
    r.httpBody = std::string(R"({"method":")") + method + "\"}";
    const FetchResult result = session.data(r);
    EXPECT_EQ(result.data, *r.httpBody) << method;
    EXPECT_EQ(http(result)->value("X-Method"), method);
    const auto received = lastOf(server.requests(), "the requests received");
    EXPECT_EQ(received.method, method);
    int tags = 0;
    for (const auto& [name, value] : received.headers) {
      if (name == "X-Tag") ++tags;
      EXPECT_NE(name, "Expect");
    }
    EXPECT_EQ(tags, 2) << method;
  }
}

TEST_F(URLSessionTest, ABodilessPostCarriesNoContentType) {
  session.data(request("/echo", "POST"));
  const auto received = lastOf(server.requests(), "the requests received");
  EXPECT_EQ(received.method, "POST");
  for (const auto& [name, value] : received.headers) EXPECT_NE(name, "Content-Type") << value;
}

TEST_F(URLSessionTest, UploadsABodyFromMemory) {
  const Data body(100000, 'x');
  const FetchResult result = session.upload(request("/echo", "PUT"), body);
  EXPECT_EQ(result.data, body);
}

// A body source that fails after its first piece, as a file that vanishes mid-upload.
class FailingSource final : public BodySource {
 public:
  std::uint64_t size() const override { return 10; }
  std::unique_ptr<BodyReader> open() const override {
    struct Reader final : BodyReader {
      bool first = true;
      std::size_t read(char* buffer, std::size_t) override {
        if (!std::exchange(first, false)) throw BodySourceError("gone");
        buffer[0] = 'x';
        return 1;
      }
    };
    return std::make_unique<Reader>();
  }
};

TEST_F(URLSessionTest, StreamsABodySourceWithEveryMethodAndReusesTheConnection) {
  // Under the test server's 1 MiB limit, and many times libcurl's read buffer.
  Data big(900 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
  for (const char* method : {"POST", "PUT", "PATCH"}) {
    URLRequest sent = request("/echo", method);
    sent.httpBodyStream = std::make_shared<MemoryBodySource>(big);
    const FetchResult result = session.data(sent);
    EXPECT_EQ(result.data.size(), big.size()) << method;
    EXPECT_TRUE(result.data == big) << method;
    EXPECT_EQ(http(result)->value("X-Method"), method);
  }
  // The lane's next plain request sends no leftover body.
  session.data(request("/echo"));
  EXPECT_TRUE(lastOf(server.requests(), "the requests received").body.empty());
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

TEST_F(URLSessionTest, ABodySourceThatFailsAbortsTheTransferWithItsError) {
  URLRequest sent = request("/echo", "PUT");
  sent.httpBodyStream = std::make_shared<FailingSource>();
  EXPECT_THROW(session.data(sent), BodySourceError);
  EXPECT_EQ(session.data(request("/items")).data, R"([{"id":1}])");
}

TEST_F(URLSessionTest, SendsDotSegmentsOfThePathAsTheyAre) {
  session.data(request("/a/../b/./c"));
  EXPECT_EQ(lastOf(server.requests(), "the requests received").target, "/a/../b/./c");
}

TEST_F(URLSessionTest, EmptyBodiesAndErrorStatusesAreResponses) {
  EXPECT_EQ(http(session.data(request("/created", "POST")))->statusCode(), 201);
  const FetchResult empty = session.data(request("/empty", "DELETE"));
  EXPECT_EQ(http(empty)->statusCode(), 204);
  EXPECT_TRUE(empty.data.empty());
  const FetchResult missing = session.data(request("/missing"));
  EXPECT_EQ(http(missing)->statusCode(), 404);
  EXPECT_EQ(missing.data, R"({"message":"not found"})");
}

TEST_F(URLSessionTest, ReusesTheConnectionAcrossRequests) {
  for (int i = 0; i < 3; ++i) session.data(request("/items"));
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

TEST_F(URLSessionTest, AReusedConnectionCarriesNothingOverFromTheLastRequest) {
  session.data(request("/items", "HEAD"));
  URLRequest put = request("/echo", "PUT");
  put.httpBody = "abc";
  session.data(put);
  session.data(request("/echo"));
  const auto received = lastOf(server.requests(), "the requests received");
  EXPECT_EQ(received.method, "GET");
  EXPECT_TRUE(received.body.empty());
  for (const auto& [name, value] : received.headers) EXPECT_NE(name, "Content-Type") << value;
  EXPECT_EQ(session.data(request("/items")).data, R"([{"id":1}])");
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

TEST_F(URLSessionTest, ABodyShorterThanAnnouncedFailsWithoutReservingTheAnnouncedLength) {
  // Far beyond what could be reserved.
  LoopbackServer lying([&](const auto&) {
    return trickled({"HTTP/1.1 200 OK\r\nContent-Length: 1152921504606846976\r\n\r\nabc"}, 0ms);
  });
  URLRequest r;
  r.url = boost::urls::url(lying.url("/short"));
  EXPECT_THROW(session.data(r), URLError);
}

TEST_F(URLSessionTest, ABodyLongerThanAnnouncedEndsAtTheAnnouncedLength) {
  LoopbackServer lying([&](const auto&) {
    return trickled({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello, and more"}, 0ms);
  });
  URLRequest r;
  r.url = boost::urls::url(lying.url("/long"));
  EXPECT_EQ(session.data(r).data, "hello");
  EXPECT_EQ(session.data(request("/items")).data, R"([{"id":1}])");
}

TEST_F(URLSessionTest, ARefusedConnectionIsRetriedAndThenSucceeds) {
  const std::uint16_t port = LoopbackServer::unusedPort();
  try {
    URLRequest r;
    r.url = boost::urls::url("http://127.0.0.1:" + std::to_string(port) + "/items");
    session.data(r);
    FAIL();
  } catch (const URLError& error) {
    EXPECT_EQ(error.code(), URLError::Code::cannotConnectToHost);
  }

  // The pause between the attempts starts the server that the second attempt reaches.
  struct StartingClock : SleepClock {
    std::uint16_t port;
    Gate* gate;
    std::unique_ptr<LoopbackServer> started;
    void sleep(double) override {
      started = std::make_unique<LoopbackServer>(
          [this](const LoopbackServer::Request& r) { return route(r, *gate); }, port);
    }
  };
  auto clock = std::make_shared<StartingClock>();
  clock->port = port;
  clock->gate = &gate;
  HTTPClient client(session.fetchHandler(), {std::make_shared<RetryRequestInterceptor>(
                                                RetryRequestInterceptor::Settings{}, clock)});
  auto retried = helpers::HTTPRequest::make("http://127.0.0.1:" + std::to_string(port) + "/items",
                                            HTTPMethod::get);
  EXPECT_EQ(client.send(*retried).statusCode(), 200);
  EXPECT_EQ(clock->started->requests().size(), 1u);
}

TEST_F(URLSessionTest, StreamsChunksAfterTheResponseHead) {
  std::vector<std::string> events;
  const auto head = session.stream(
      request("/stream"), [&](std::string_view chunk) { events.emplace_back(chunk); },
      [&](const HTTPURLResponse& response) {
        events.push_back("status " + std::to_string(response.statusCode()));
      });
  ASSERT_TRUE(head);
  EXPECT_EQ(head->statusCode(), 200);
  std::string body;
  for (std::size_t i = 1; i < events.size(); ++i) body += events[i];
  EXPECT_EQ(firstOf(events, "the stream events"), "status 200");
  EXPECT_EQ(body, "first second third");
}

TEST_F(URLSessionTest, AHandlerErrorAbortsTheStreamAndIsRethrown) {
  EXPECT_THROW(session.stream(request("/stream"),
                              [](std::string_view) { throw std::runtime_error("stop"); }),
               std::runtime_error);
}

TEST_F(URLSessionTest, CancellingTheTaskAbortsATransferMidway) {
  std::atomic<bool> firstChunk = false;
  Task<void> streaming([&] {
    session.stream(request("/stalling-stream"), [&](std::string_view) { firstChunk = true; });
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!firstChunk && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(firstChunk);
  const auto start = std::chrono::steady_clock::now();
  streaming.cancel();
  EXPECT_THROW(streaming.value(), CancellationError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(URLSessionTest, ATaskCancelledBeforeItsTransferSendsNothing) {
  session.data(request("/items"));  // leaves a warm connection that would send at once
  Task<void> cancelled([&] {
    ASSERT_TRUE(testing::eventually([] { return this_task::isCancelled(); }));
    session.data(request("/echo", "POST"));
  });
  cancelled.cancel();
  EXPECT_THROW(cancelled.value(), CancellationError);
  session.data(request("/items"));
  for (const auto& received : server.requests()) EXPECT_NE(received.target, "/echo");
}

TEST_F(URLSessionTest, ConcurrentTasksGetTheirOwnResponses) {
  std::vector<Task<int>> tasks;
  for (int t = 0; t < 6; ++t) {
    tasks.emplace_back([this, t] {
      int matched = 0;
      for (int i = 0; i < 20; ++i) {
        URLRequest r = request("/echo", "POST");
        r.httpBody = std::to_string(t) + ":" + std::to_string(i);
        matched += session.data(r).data == *r.httpBody;
      }
      return matched;
    });
  }
  for (const auto& task : tasks) EXPECT_EQ(task.value(), 20);
  EXPECT_LE(server.connectionsAccepted(), 6u);
}

TEST_F(URLSessionTest, SequentialTasksReuseOneConnection) {
  for (int i = 0; i < 4; ++i) {
    Task<int>([this] { return http(session.data(request("/items")))->statusCode(); }).value();
  }
  EXPECT_EQ(server.connectionsAccepted(), 1u);
}

TEST_F(URLSessionTest, RefusesFieldsThatWouldBreakTheRequestFraming) {
  URLRequest injected = request("/echo", "POST");
  injected.headerFields = {{"X-Note", "a\r\nX-Injected: yes"}};
  URLRequest badName = request("/echo", "POST");
  badName.headerFields = {{"X Note", "a"}};
  URLRequest badMethod = request("/echo", "GET /other HTTP/1.1\r\nX:");
  for (const URLRequest& r : {injected, badName, badMethod}) {
    try {
      session.data(r);
      ADD_FAILURE();
    } catch (const URLError& error) {
      EXPECT_EQ(error.code(), URLError::Code::badURL);
    }
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(URLSessionTest, RefusesSchemesOtherThanHTTP) {
  URLRequest r;
  r.url = boost::urls::url("file:///etc/hostname");
  try {
    session.data(r);
    FAIL();
  } catch (const URLError& error) {
    EXPECT_EQ(error.code(), URLError::Code::unsupportedURL);
  }
}

TEST(DefaultFetch, EndsAnHTTPClientChainOnTheSharedSession) {
  Gate gate;
  LoopbackServer server([&](const LoopbackServer::Request& r) { return route(r, gate); });
  HTTPClient client(defaultFetch(), {});
  auto request =
      helpers::HTTPRequest::make(server.url("/echo"), HTTPMethod::post, {}, {}, Data(R"({"a":1})"));
  const helpers::HTTPResponse response = client.send(*request);
  EXPECT_EQ(response.statusCode(), 200);
  EXPECT_EQ(response.data(), R"({"a":1})");
  const auto received = lastOf(server.requests(), "the requests received");
  bool json = false;
  for (const auto& [name, value] : received.headers) {
    json = json || (name == "Content-Type" && value == "application/json");
  }
  EXPECT_TRUE(json);
}

}  // namespace
}  // namespace voduzazi
