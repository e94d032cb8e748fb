// The fixture of the second-generation client's unit tests: a client over a fake transport and a
// recording HTTP client, a test clock installed as the library's sleep clock, a seeded random
// source, and helpers that record statuses and log lines.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tests/realtime/fake_web_socket.hpp"
#include "tests/support/eventually.hpp"
#include "tests/support/settle.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::testing {

using namespace std::chrono_literals;

// Keeps every line logged to it; shared objects: safe.
class RecordingLogger final : public VoduzaziLogger {
 public:
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override;
  std::vector<std::string> lines() const;
  std::size_t count(std::string_view text) const;
  bool contains(std::string_view text) const { return count(text) > 0; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Values seen by a listener, in order; shared objects: safe.
template <class T>
class Recorder {
 public:
  std::function<void(T)> listener() {
    return [this](T value) {
      std::lock_guard lock(mutex_);
      values_.push_back(value);
    };
  }
  std::vector<T> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  bool waitFor(T value) const {
    return eventually([&] {
      const auto all = values();
      return std::find(all.begin(), all.end(), value) != all.end();
    });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<T> values_;
};

class RealtimeV2Test : public ::testing::Test {
 protected:
  RealtimeV2Test() { setCurrentClock(sleeper_); }
  ~RealtimeV2Test() override {
    client_.reset();
    setCurrentClock(nullptr);
  }

  realtime::RealtimeClientOptions options() const {
    realtime::RealtimeClientOptions options(
        {{"apikey", "anon-key"}, {"Authorization", "Bearer anon-key"}});
    options.logger = logger_;
    return options;
  }

  realtime::RealtimeClientV2& makeClient(realtime::RealtimeClientOptions options) {
    client_ = realtime::RealtimeClientV2::make(
        boost::urls::url("https://project.example/realtime/v1"), std::move(options),
        transport_->function(), http_, [engine = std::make_shared<std::mt19937_64>(42)] {
          return std::uniform_real_distribution<double>(0.0, 1.0)(*engine);
        });
    return *client_;
  }
  realtime::RealtimeClientV2& makeClient() { return makeClient(options()); }

  // Connects (the fake opens at once) and returns the socket.
  std::shared_ptr<FakeWebSocket> connected(std::size_t socketCount = 1) {
    client_->connect();
    return transport_->waitForSocket(socketCount);
  }

  // A subscribed channel over a server that answers joins.
  std::shared_ptr<realtime::RealtimeChannelV2> joined(std::string name = "room") {
    transport_->respondWith(friendlyServer());
    auto channel = client_->channel(name);
    channel->subscribeWithError();
    return channel;
  }

  // Moves the test clock by `by` once a task sleeps for about that long, and waits until what
  // that woke waits again.
  void advanceWhenSleeping(std::chrono::duration<double> by) {
    ASSERT_TRUE(sleeper_->waitForSleep(by.count())) << "nobody sleeps " << by.count() << " s";
    clock_->advance(std::chrono::duration_cast<Duration>(by));
    settle("advancing the test clock by " + std::to_string(by.count()) + " s");
  }

  std::shared_ptr<TestClock> clock_ = std::make_shared<TestClock>();
  std::shared_ptr<CountingSleeper> sleeper_ = std::make_shared<CountingSleeper>(clock_);
  std::shared_ptr<FakeTransport> transport_ = std::make_shared<FakeTransport>();
  std::shared_ptr<RecordingHTTPClient> http_ = std::make_shared<RecordingHTTPClient>();
  std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
  std::shared_ptr<realtime::RealtimeClientV2> client_;
};

}  // namespace voduzazi::testing
