// Fakes shared by the helpers tests: a recording logger, a scripted fetch function and a clock
// that records its sleeps instead of waiting.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/fetch_handler.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"

namespace voduzazi::testing {

class RecordingLogger : public VoduzaziLogger {
 public:
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    messages_.withValue([&](auto& all) { all.push_back(message); });
  }
  std::vector<VoduzaziLogMessage> messages() const { return messages_.value(); }

 private:
  LockIsolated<std::vector<VoduzaziLogMessage>> messages_{std::vector<VoduzaziLogMessage>{}};
};

// Answers each call with the next scripted step (a status code, or a thrown error).
class ScriptedFetch {
 public:
  using Step = std::function<FetchResult(const URLRequest&)>;

  static Step status(int code, Data body = {}) {
    return [code, body](const URLRequest& request) {
      return FetchResult{body,
                         std::make_shared<HTTPURLResponse>(request.url, code, HeaderFieldList{})};
    };
  }
  template <class Error>
  static Step fail(Error error) {
    return [error](const URLRequest&) -> FetchResult { throw error; };
  }

  explicit ScriptedFetch(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
    if (steps_.empty()) throw std::invalid_argument("ScriptedFetch: no step to answer with");
  }

  FetchHandler handler() {
    return [this](const URLRequest& request) {
      Step step;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        step = steps_.size() > 1 ? steps_.front() : steps_.back();
        if (steps_.size() > 1) steps_.pop_front();
      }
      return step(request);
    };
  }
  std::size_t calls() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  std::vector<URLRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<Step> steps_;
  std::vector<URLRequest> requests_;
};

// Records every requested sleep and returns at once (or runs a hook).
class RecordingClock : public SleepClock {
 public:
  void sleep(double seconds) override {
    sleeps_.withValue([&](auto& all) { all.push_back(seconds); });
    if (onSleep) onSleep();
  }
  std::vector<double> sleeps() const { return sleeps_.value(); }
  std::function<void()> onSleep;

 private:
  LockIsolated<std::vector<double>> sleeps_{std::vector<double>{}};
};

}  // namespace voduzazi::testing
