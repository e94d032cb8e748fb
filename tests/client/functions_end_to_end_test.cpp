// Edge functions against the in-process stand-in backend, over loopback: the user's token on
// ordinary and streamed invocations, failed and relayed answers, and streams read and cancelled.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <random>

#include "local_backend/server.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::testing {
namespace {

boost::json::value asJSON(const Data& body, const HTTPURLResponse&) {
  return boost::json::parse(body);
}

std::string text(const boost::json::value& value) {
  return value.is_string() ? std::string(value.as_string()) : "<not text>";
}

std::string joined(const AsyncThrowingStream<Data>& stream) {
  std::string all;
  for (const Data& chunk : stream) all += chunk;
  return all;
}

class FunctionsEndToEndTest : public ::testing::Test {
 protected:
  FunctionsEndToEndTest() {
    VoduzaziClientOptions options;
    options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
    client = std::make_unique<VoduzaziClient>(server.url(), server.anonKey(), options);
  }

  std::string signUp() {
    std::mt19937_64 random{std::random_device{}()};
    const std::string email = "fn-" + std::to_string(random()) + "@example.com";
    const auth::AuthResponse response = client->auth().signUp(email, "a long password");
    EXPECT_TRUE(response.session());
    return response.session() ? response.session()->accessToken : "";
  }

  FunctionsClient& functions() { return client->functions(); }

  // A client of its own whose streams report when their transfer has ended.
  FunctionsClient watchedClient(std::shared_ptr<std::atomic<bool>> ended) {
    return FunctionsClient(client->functionsURL(), client->headers(), {}, nullptr,
                           defaultFetch(),
                           [ended](const URLRequest& request,
                                   const URLSession::ChunkHandler& onChunk,
                                   const URLSession::ResponseHandler& onResponse) {
                             struct Ended {
                               std::atomic<bool>& flag;
                               ~Ended() { flag = true; }
                             } mark{*ended};
                             return URLSession::shared().stream(request, onChunk, onResponse);
                           });
  }

  local_backend::Server server;
  std::unique_ptr<VoduzaziClient> client;
};

TEST_F(FunctionsEndToEndTest, EchoSeesTheUserTokenMethodQueryRegionAndBody) {
  const boost::json::value keyed = functions().invoke("echo", {}, asJSON);
  EXPECT_EQ(text(keyed.at("headers").at("authorization")), "Bearer " + server.anonKey());

  const std::string token = signUp();
  const auto options = FunctionInvokeOptions::withBody(
      std::map<std::string, int>{{"n", 7}}, FunctionMethod::put, {{"x-trace", "t1"}},
      FunctionRegion::euWest3, {{"page", "2"}, {"q", "a b"}});
  const boost::json::value echo = functions().invoke("echo", options, asJSON);
  EXPECT_EQ(text(echo.at("method")), "PUT");
  EXPECT_EQ(echo.at("query"), (boost::json::object{{"page", "2"}, {"q", "a b"}}));
  EXPECT_EQ(text(echo.at("body")), R"({"n":7})");
  const auto& headers = echo.at("headers");
  EXPECT_EQ(text(headers.at("authorization")), "Bearer " + token);
  EXPECT_EQ(text(headers.at("x-region")), "eu-west-3");
  EXPECT_EQ(text(headers.at("x-trace")), "t1");
  EXPECT_EQ(text(headers.at("content-type")), "application/json");
}

TEST_F(FunctionsEndToEndTest, FailedAndRelayedAnswersThrowFunctionsErrors) {
  const auto call = [&](std::vector<URLQueryItem> query) {
    try {
      functions().invoke("status", FunctionInvokeOptions(FunctionMethod::get, {}, {}, query));
    } catch (const FunctionsError& error) {
      return std::make_pair(error.code(), error.data());
    }
    return std::make_pair(-1, Data());
  };
  EXPECT_EQ(call({{"code", "503"}}), std::make_pair(503, Data("status 503")));
  EXPECT_EQ(call({{"code", "500"}, {"relay", "true"}}), std::make_pair(500, Data("status 500")));
  EXPECT_EQ(call({{"code", "200"}, {"relay", "true"}}), std::make_pair(0, Data()));
  EXPECT_EQ(call({{"code", "204"}}), std::make_pair(-1, Data()));
}

TEST_F(FunctionsEndToEndTest, StreamedAnswerArrivesChunkByChunk) {
  signUp();
  const auto stream = functions().invokeWithStreamedResponse(
      "stream", FunctionInvokeOptions(FunctionMethod::get, {}, {},
                                      {{"count", "3"}, {"pause_ms", "150"}}));
  EXPECT_EQ(stream.next(), "chunk 0\n");  // the next piece is still 150 ms away
  EXPECT_EQ(joined(stream), "chunk 1\nchunk 2\n");
}

TEST_F(FunctionsEndToEndTest, StreamOfAMissingFunctionFailsWithItsStatus) {
  try {
    joined(functions().invokeWithStreamedResponse("nothing-here"));
    FAIL() << "no error";
  } catch (const FunctionsError& error) {
    EXPECT_EQ(error.code(), 404);
    EXPECT_EQ(error.data(), "");
  }
}

TEST_F(FunctionsEndToEndTest, CancellingTheReaderAbortsTheTransfer) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  FunctionsClient watched = watchedClient(ended);
  auto firstChunk = std::make_shared<std::atomic<bool>>(false);
  Task<std::string> reader([&, firstChunk] {
    // A thousand pieces a second apart: far longer than the test runs.
    const auto stream = watched.invokeWithStreamedResponse(
        "stream", FunctionInvokeOptions(FunctionMethod::get, {}, {},
                                        {{"count", "1000"}, {"pause_ms", "1000"}}));
    std::string read;
    while (auto chunk = stream.next()) {
      read += *chunk;
      *firstChunk = true;
    }
    return read;
  });
  ASSERT_TRUE(eventually([&] { return firstChunk->load(); }));
  reader.cancel();
  EXPECT_EQ(reader.value(), "chunk 0\n");
  EXPECT_TRUE(eventually([&] { return ended->load(); }));
}

TEST_F(FunctionsEndToEndTest, CancellingASlowInvocationEndsIt) {
  Task<void> call([&] { functions().invoke("slow", FunctionInvokeOptions(
                                                       FunctionMethod::get, {}, {},
                                                       {{"ms", "10000"}})); });
  call.cancel();
  EXPECT_THROW(call.value(), CancellationError);
}

}  // namespace
}  // namespace voduzazi::testing
