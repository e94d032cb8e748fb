// A request's time-out: it bounds connecting and each silence, whatever its value, and never a
// transfer that keeps moving.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/body_source.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/url_session.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::Gate;
using testing::LoopbackServer;
using testing::trickled;
using Clock = std::chrono::steady_clock;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

class URLSessionTimeoutTest : public ::testing::Test {
 protected:
  URLRequest request(const LoopbackServer& server, double timeout) {
    URLRequest r;
    r.url = boost::urls::url(server.url("/"));
    r.timeoutInterval = timeout;
    return r;
  }

  // Expects a timedOut failure and returns how long it took.
  Clock::duration timesOut(const URLRequest& r) {
    const auto start = Clock::now();
    try {
      session.data(r);
      ADD_FAILURE() << "no time-out";
    } catch (const URLError& error) {
      EXPECT_EQ(error.code(), URLError::Code::timedOut) << error.what();
    }
    return Clock::now() - start;
  }

  Gate gate;
  URLSession session;
};

// Opens the gate when it goes, before the server declared ahead of it stops (and waits for its
// handlers).
struct OpenOnExit {
  Gate& gate;
  ~OpenOnExit() { gate.open(); }
};

std::chrono::duration<double> seconds(double s) { return std::chrono::duration<double>(s); }

// The body a transfer got, or how it failed.
std::string outcome(const Task<std::string>& transfer) {
  try {
    return transfer.value();
  } catch (const URLError& error) {
    return error.what();
  }
}

TEST_F(URLSessionTimeoutTest, ASilentServerTimesOutAfterTheTimeOut) {
  LoopbackServer silent([&](const auto&) {
    LoopbackServer::Response response;
    response.beforeResponse = [&] { gate.wait(30s); };
    return response;
  });
  OpenOnExit opened{gate};
  // Well under libcurl's one-second steps.
  const auto took = timesOut(request(silent, 0.2));
  EXPECT_GE(took, seconds(0.2));
  EXPECT_LT(took, 10s);
}

TEST_F(URLSessionTimeoutTest, EveryLargeTimeOutWaitsForALateAnswer) {
  LoopbackServer late([&](const auto&) {
    LoopbackServer::Response response;
    response.beforeResponse = [&] { gate.wait(3s); };  // the door stays shut: 3 s
    response.body = "late";
    return response;
  });
  const double largest = std::numeric_limits<double>::max();
  std::vector<double> timeouts{kInfinity, 1e300, 1e16, largest, 1e7, 0};
  std::vector<Task<std::string>> waits;
  for (const double timeout : timeouts) {
    waits.emplace_back([&, timeout] { return session.data(request(late, timeout)).data; });
  }
  for (std::size_t i = 0; i < waits.size(); ++i) {
    EXPECT_EQ(outcome(waits[i]), "late") << "time-out " << timeouts[i];
  }
}

TEST_F(URLSessionTimeoutTest, RefusesATimeOutThatIsNoNumberOrNegative) {
  LoopbackServer server([](const auto&) { return LoopbackServer::Response{}; });
  for (const double timeout : {std::nan(""), -1.0, -1e-9, -kInfinity}) {
    try {
      session.data(request(server, timeout));
      ADD_FAILURE() << timeout << " was sent";
    } catch (const URLError& error) {
      EXPECT_EQ(error.code(), URLError::Code::badURL) << timeout;
    }
  }
  EXPECT_TRUE(server.requests().empty());
}

// A body of `size` bytes whose reader hands out one byte `pause` after the last, as a slow disk.
class SlowSource final : public BodySource {
 public:
  SlowSource(std::uint64_t size, std::chrono::milliseconds pause) : size_(size), pause_(pause) {}
  std::uint64_t size() const override { return size_; }
  std::unique_ptr<BodyReader> open() const override {
    struct Reader final : BodyReader {
      std::uint64_t left;
      std::chrono::milliseconds pause;
      Reader(std::uint64_t left, std::chrono::milliseconds pause) : left(left), pause(pause) {}
      std::size_t read(char* buffer, std::size_t capacity) override {
        if (left == 0 || capacity == 0) return 0;
        std::this_thread::sleep_for(pause);  // the disk's pace, not a wait for anything
        buffer[0] = 'u';
        --left;
        return 1;
      }
    };
    return std::make_unique<Reader>(size_, pause_);
  }

 private:
  std::uint64_t size_;
  std::chrono::milliseconds pause_;
};

TEST_F(URLSessionTimeoutTest, SparseBytesKeepATransferAliveEitherWay) {
  LoopbackServer byteByByte([](const auto&) {
    return trickled({"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", "a", "b", "c", "d"}, 1500ms);
  });
  LoopbackServer pairs([](const auto&) {
    return trickled({"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n", "ab", "cd", "ef"}, 4000ms);
  });
  LoopbackServer echo([](const LoopbackServer::Request& r) {
    LoopbackServer::Response response;
    response.body = r.body;
    return response;
  });
  URLRequest upload = request(echo, 3);
  upload.httpMethod = "PUT";
  upload.httpBodyStream = std::make_shared<SlowSource>(4, 1500ms);

  Task<std::string> ones([&] { return session.data(request(byteByByte, 3)).data; });
  Task<std::string> twos([&] { return session.data(request(pairs, 5)).data; });
  Task<std::string> sent([&] { return session.data(upload).data; });
  EXPECT_EQ(outcome(ones), "abcd");
  EXPECT_EQ(outcome(twos), "abcdef");
  EXPECT_EQ(outcome(sent), "uuuu");
}

TEST_F(URLSessionTimeoutTest, ABodyThatKeepsMovingOutlastsTheTimeOut) {
  std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\nContent-Length: 14\r\n\r\n"};
  for (char c = 'a'; c < 'o'; ++c) pieces.emplace_back(1, c);
  LoopbackServer slow([&](const auto&) { return trickled(pieces, 250ms); });
  // The whole body takes half as long again.
  EXPECT_EQ(session.data(request(slow, 2)).data, "abcdefghijklmn");
}

TEST_F(URLSessionTimeoutTest, AStallEndsAboutASecondAfterTheTimeOut) {
  // A burst, then nothing: no average speed of the last seconds may hide the silence.
  LoopbackServer stalling([&](const auto&) {
    LoopbackServer::Response response;
    response.raw = [&](const auto& send) {
      send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'x'));
      gate.wait(60s);
    };
    return response;
  });
  OpenOnExit opened{gate};
  const auto took = timesOut(request(stalling, 2));
  EXPECT_GE(took, 2s);
  // The time-out and a second, with as much again for a loaded machine.
  EXPECT_LT(took, 5s);
}

}  // namespace
}  // namespace voduzazi
