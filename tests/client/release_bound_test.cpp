// Releasing the facade while the server holds the answer to a refresh, over the real transport:
// the release waits for the answer a few seconds at most, then calls the transfer off, however
// the refresh began (on a caller's thread, by auto-refresh, or at start with an expired stored
// session); an answer that comes within those seconds is stored for the next start.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/auth/caller_fakes.hpp"
#include "tests/platform/loopback_server.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/client/voduzazi_client.hpp"

namespace voduzazi::testing {
namespace {

using namespace std::chrono_literals;
using auth::testing::CallerLogger;
using auth::testing::CallerRecord;
using auth::testing::CallerStorage;
using auth::testing::secondsFromNow;

constexpr const char* kStorageKey = "release-bound-test";

// How the refresh under way at the release began.
enum class Start { callersThread, autoRefresh, expiredAtStart };

// The server's way with a refresh grant: hold it (until the test ends), or answer after a second.
enum class Server { holds, answersAfterASecond };

class FacadeReleaseBound : public ::testing::TestWithParam<Start> {
 protected:
  ~FacadeReleaseBound() override { held_.open(); }  // before the server joins its threads

  // A facade over the loopback server and the real transport, as a program starts it.
  std::unique_ptr<VoduzaziClient> facade() {
    VoduzaziClientOptions options;
    options.auth.storage = storage_;
    options.auth.storageKey = kStorageKey;
    options.global.logger = std::make_shared<CallerLogger>(record_);
    return std::make_unique<VoduzaziClient>(server_.url(""), "anon-key", options);
  }

  // A facade whose refresh of the stored session begins the way `start` says.
  std::unique_ptr<VoduzaziClient> refreshingFacade(Start start) {
    const double left = start == Start::expiredAtStart ? 20
                        : start == Start::autoRefresh  ? 60  // due for the tick only
                                                       : 3600;
    auth::testing::storeSessionIn(storage_->inner, kStorageKey, "old", secondsFromNow(left));
    auto client = facade();
    if (start == Start::autoRefresh) client->auth().startAutoRefresh();
    if (start == Start::callersThread) {
      // As an application's worker thread asks for a new session.
      callersRefresh_.emplace([&auth = client->auth()] { return auth.refreshSession(); });
    }
    return client;
  }

  // Releases the facade once the refresh has reached the server; returns how long it took.
  std::chrono::steady_clock::duration releaseDuringTheRefresh(
      std::unique_ptr<VoduzaziClient>& client) {
    EXPECT_TRUE(eventually([&] { return refreshes_.load() == 1; }));
    const auto began = std::chrono::steady_clock::now();
    client.reset();
    const auto took = std::chrono::steady_clock::now() - began;
    record_->release();
    return took;
  }

  std::optional<std::string> storedAccessToken() {
    const auto stored = storage_->inner.retrieve(kStorageKey);
    if (!stored) return std::nullopt;
    return JSONDecoder().decode<auth::Session>(*stored).accessToken;
  }

  Server behaviour_ = Server::holds;
  std::shared_ptr<CallerRecord> record_ = std::make_shared<CallerRecord>();
  std::shared_ptr<CallerStorage> storage_ = std::make_shared<CallerStorage>(record_);
  std::optional<Task<auth::Session>> callersRefresh_;
  std::atomic<int> refreshes_{0};
  Gate held_;
  LoopbackServer server_{[this](const LoopbackServer::Request& request) {
    LoopbackServer::Response response;
    response.headers = {{"Content-Type", "application/json"},
                        {"X-Voduzazi-Api-Version", "2024-01-01"}};
    if (!request.target.starts_with("/auth/v1/token")) {
      response.body = "[]";
      return response;
    }
    ++refreshes_;
    if (behaviour_ == Server::holds) {
      held_.wait(30s);
    } else {
      std::this_thread::sleep_for(1s);  // the server's pace, not a wait for anything
    }
    response.body =
        auth::testing::sessionBody("fresh", "next", auth::testing::secondsFromNow(3600));
    return response;
  }};
};

TEST_P(FacadeReleaseBound, CallsOffARefreshTheServerHolds) {
  auto client = refreshingFacade(GetParam());
  const auto took = releaseDuringTheRefresh(client);
  EXPECT_LT(took, auth::AuthClient::releaseWait + 2s);
  if (callersRefresh_) {
    EXPECT_THROW(callersRefresh_->value(), CancellationError);
  }
  held_.open();
  // Nothing was left to store the answer, which the server sent after the release.
  EXPECT_FALSE(eventually([&] { return !record_->lateCalls().empty(); }, 500ms));
  EXPECT_EQ(storedAccessToken(), "old");
}

TEST_P(FacadeReleaseBound, WaitsForAnAnswerThatComesWithinItsWait) {
  behaviour_ = Server::answersAfterASecond;
  auto client = refreshingFacade(GetParam());
  releaseDuringTheRefresh(client);
  EXPECT_TRUE(record_->lateCalls().empty());
  if (callersRefresh_) {
    EXPECT_EQ(callersRefresh_->value().accessToken, "fresh");
  }
  // The next start finds the new session.
  record_ = std::make_shared<CallerRecord>();
  auto next = facade();
  EXPECT_EQ(next->auth().session().accessToken, "fresh");
  EXPECT_EQ(refreshes_.load(), 1);
}

std::string nameOf(const ::testing::TestParamInfo<Start>& start) {
  switch (start.param) {
    case Start::callersThread:
      return "OnACallersThread";
    case Start::autoRefresh:
      return "ByAutoRefresh";
    case Start::expiredAtStart:
      return "AtStartWithAnExpiredSession";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(EachWayARefreshBegins, FacadeReleaseBound,
                         ::testing::Values(Start::callersThread, Start::autoRefresh,
                                           Start::expiredAtStart),
                         nameOf);

}  // namespace
}  // namespace voduzazi::testing
