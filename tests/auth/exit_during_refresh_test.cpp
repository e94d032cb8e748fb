// A process that exits while a background refresh waits for its answer: the answer may arrive
// while the process tears itself down, and the refresh must then find everything it reaches alive;
// or the client is released first, which waits for the refresh, and nothing is left running.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::auth::testing {
namespace {

using namespace std::chrono_literals;

// Lives on past the process's teardown, as the refresh thread does.
struct Teardown {
  Gate start;
  Gate answer;
  std::atomic<bool> refreshEnded{false};
};
Teardown* teardown = nullptr;

// Run after every exit handler, hence after every object of static duration has been destroyed:
// the latest moment an answer can arrive. Only a process that set the scene up acts.
__attribute__((destructor)) void answerDuringTeardown() {
  if (teardown == nullptr) return;
  teardown->start.open();
  teardown->answer.open();
  // A refresh still running when the process ends is no clean end either.
  if (!eventually([] { return teardown->refreshEnded.load(); }, 10s)) std::_Exit(4);
}

// How the process ends once the refresh is under way (or, for one started during the teardown,
// once the task that starts it waits for the teardown).
enum class Ending {
  // With the client alive, as an application that owns it for the life of the process ends.
  clientAlive,
  // After releasing the client, which waits for the refresh: the answer arrives meanwhile.
  clientReleased,
};

// Holds a session whose token expires in 20 seconds, refreshes it from a detached task (before
// or during teardown), and exits the way returning from main does before the server answers.
[[noreturn]] void exitDuringRefresh(bool startsDuringTeardown, int status, std::string body,
                                    Ending ending = Ending::clientAlive) {
  teardown = new Teardown;
  {
    auto server = FakeAuthServer::make();
    server->respond([status, body](const URLRequest& request) {
      teardown->answer.pass();
      return FakeAuthServer::answer(request, status, body);
    });
    AuthClientConfiguration::Options options;
    options.url = boost::urls::url("https://project.example.com/auth/v1");
    options.headers = {{"apikey", "anon-key"}};
    options.localStorage = std::make_shared<InMemoryAuthLocalStorage>();
    options.logger = std::make_shared<RecordingLogger>();
    options.fetch = server->handler();
    AuthClient client(AuthClientConfiguration(std::move(options)),
                      std::make_shared<ApplicationLifecycle>());
    Dependencies::get(client.clientID())
        .sessionStorage.store(makeSession("old", "old-refresh", secondsFromNow(20)));
    Task<void>::detached(
        [manager = Dependencies::get(client.clientID()).sessionManager, startsDuringTeardown] {
          if (startsDuringTeardown) teardown->start.pass();
          try {
            manager.session();
          } catch (...) {
            // Only the process's clean end matters here.
          }
          teardown->refreshEnded = true;
        });
    const bool underWay = eventually([&] {
      return startsDuringTeardown ? teardown->start.arrivals() == 1
                                  : teardown->answer.arrivals() == 1;
    });
    if (!underWay) std::_Exit(3);
    if (ending == Ending::clientAlive) std::exit(0);
    teardown->answer.open();
  }
  std::exit(0);
}

TEST(ExitDuringRefreshDeathTest, AProcessExitingDuringARefreshEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string session = sessionBody("fresh", "next", secondsFromNow(3600));
  const std::string refused = R"({"code":"refresh_token_not_found","msg":"Invalid Refresh Token"})";
  EXPECT_EXIT(exitDuringRefresh(false, 200, session), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(true, 200, session), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(false, 400, refused), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(false, 500, R"({"msg":"down"})"), ::testing::ExitedWithCode(0), "");
}

TEST(ExitDuringRefreshDeathTest, AClientReleasedWhileRefreshingLeavesNothingRunningAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string session = sessionBody("fresh", "next", secondsFromNow(3600));
  const std::string refused = R"({"code":"refresh_token_not_found","msg":"Invalid Refresh Token"})";
  EXPECT_EXIT(exitDuringRefresh(false, 200, session, Ending::clientReleased),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(false, 400, refused, Ending::clientReleased),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace voduzazi::auth::testing
