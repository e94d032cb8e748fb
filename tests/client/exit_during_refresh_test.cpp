// A process that exits while the facade refreshes its session in the background: the refresh's
// answer may arrive while the process tears itself down, and must then find all it reaches alive;
// or the facade is released first, which waits for the refresh, and the process ends with nothing
// left running.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::testing {
namespace {

using namespace std::chrono_literals;
using auth::testing::FakeAuthServer;
using auth::testing::Gate;

// The server's answers to the refresh: a new session, or the refusal of a spent token.
constexpr std::string_view kRefused =
    R"({"code":"refresh_token_not_found","msg":"Invalid Refresh Token"})";
std::string freshSession() {
  return auth::testing::sessionBody("fresh", "next", auth::testing::secondsFromNow(3600));
}

// Lives on past the process's teardown, as the refreshing thread does.
struct Teardown {
  Gate answer;
  std::atomic<bool> requestEnded{false};
};
Teardown* teardown = nullptr;

// Run after every exit handler, hence after every object of static duration has been destroyed:
// the latest moment an answer can arrive. Only a process that set the scene up acts.
__attribute__((destructor)) void answerDuringTeardown() {
  if (teardown == nullptr) return;
  teardown->answer.open();
  // A refresh still running when the process ends is no clean end either.
  if (!eventually([] { return teardown->requestEnded.load(); }, 10s)) std::_Exit(4);
}

// The refresh grant waits for the gate, then gets this answer; every other request gets an
// empty JSON array.
HTTPSession gatedSession(int status, std::string body) {
  auto send = [status, body](const URLRequest& request) {
    if (request.url.path().ends_with("/token")) {
      teardown->answer.pass();
      return FakeAuthServer::answer(request, status, body);
    }
    return FakeAuthServer::answer(request, 200, "[]");
  };
  return {send, [send](const URLRequest& request, const Data& body) {
            URLRequest sent = request;
            sent.httpBody = body;
            return send(sent);
          }};
}

// How the process ends once the refresh is under way.
enum class Ending {
  // With the facade alive, as an application that owns it for the life of the process ends; the
  // answer arrives during the teardown.
  facadeAlive,
  // After releasing the facade, which waits for the refresh: the answer arrives meanwhile.
  facadeReleased,
};

// A facade at `url` over `session`, whose stored session has a 20-second token, reads rows from
// a detached task, which refreshes the session first; once the refresh is under way the process
// ends the way returning from main ends it.
[[noreturn]] void exitWhileReadingRows(const std::string& url, HTTPSession session, Ending ending) {
  {
    VoduzaziClientOptions options;
    options.global.session = std::move(session);
    auto storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
    options.auth.storage = storage;
    options.global.logger = std::make_shared<RecordingLogger>();
    VoduzaziClient client(url, "anon-key", std::move(options));
    storage->store(client.storageKey(),
                   JSONEncoder().encode(auth::testing::makeSession(
                       "old", "old-refresh", auth::testing::secondsFromNow(20))));
    Task<void>::detached([rows = client.from("messages")]() mutable {
      try {
        rows.select().execute();
      } catch (...) {
        // Only the process's clean end matters here.
      }
      teardown->requestEnded = true;
    });
    if (!eventually([] { return teardown->answer.arrivals() == 1; })) std::_Exit(3);
    if (ending == Ending::facadeAlive) std::exit(0);
    teardown->answer.open();
  }
  std::exit(0);
}

[[noreturn]] void exitDuringRefresh(int status, std::string body, Ending ending) {
  teardown = new Teardown;
  exitWhileReadingRows("https://project.example.com", gatedSession(status, std::move(body)),
                       ending);
}

// A loopback server for the real transport: it reads one request at a time and, once the gate
// opens, refuses each as a server that no longer knows the session; it lives on past the
// process's teardown.
int listenOnLoopback(int& port) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 8);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return listener;
}

void serveRefusals(int listener) {
  for (;;) {
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0) return;
    char buffer[8192];
    if (::recv(connection, buffer, sizeof buffer, 0) <= 0) {
      ::close(connection);
      continue;
    }
    teardown->answer.pass();
    const std::string body(kRefused);
    const std::string answer =
        "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n"
        "Connection: close\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(connection);
  }
}

// As exitDuringRefresh, over the real transport.
[[noreturn]] void exitDuringRefreshOverLoopback(Ending ending) {
  teardown = new Teardown;
  int port = 0;
  const int listener = listenOnLoopback(port);
  std::thread(serveRefusals, listener).detach();
  exitWhileReadingRows("http://127.0.0.1:" + std::to_string(port), HTTPSession::shared(), ending);
}

TEST(ExitDuringRefreshDeathTest, AFacadeRefreshingWhileTheProcessExitsEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitDuringRefresh(200, freshSession(), Ending::facadeAlive),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(400, std::string(kRefused), Ending::facadeAlive),
              ::testing::ExitedWithCode(0), "");
}

TEST(ExitDuringRefreshDeathTest, AFacadeReleasedWhileRefreshingLeavesNothingRunningAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitDuringRefresh(200, freshSession(), Ending::facadeReleased),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefresh(400, std::string(kRefused), Ending::facadeReleased),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(exitDuringRefreshOverLoopback(Ending::facadeReleased), ::testing::ExitedWithCode(0),
              "");
}

TEST(ExitDuringRefreshDeathTest, AFacadeRefreshingOverLoopbackWhileTheProcessExitsEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitDuringRefreshOverLoopback(Ending::facadeAlive), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace voduzazi::testing
