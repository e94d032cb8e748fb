#include "voduzazi/realtime/client_timers.hpp"

#include <chrono>
#include <mutex>

#include "voduzazi/helpers/sleep_clock.hpp"

namespace voduzazi::realtime {

namespace {

// The library's sleep clock with a time of its own: the steady clock's, moved on whenever a
// sleep ends before the steady clock got to its deadline (a test clock's sleeps do), so that a
// deadline counted on it is reached when the sleep clock says so.
class SleepClockTime {
 public:
  using Instant = OffsetInstant<SleepClockTime>;

  Instant now() const {
    std::lock_guard lock(mutex_);
    return Instant{steadyOffset() + skew_};
  }

  Duration minimumResolution() const { return Duration(1); }

  void sleep(Instant deadline, std::optional<Duration> = std::nullopt) {
    const Duration remaining = now().durationTo(deadline);
    if (remaining > Duration::zero()) {
      currentClock()->sleep(std::chrono::duration<double>(remaining).count());
    }
    std::lock_guard lock(mutex_);
    const Duration reached = steadyOffset() + skew_;
    if (reached < deadline.offset) skew_ += deadline.offset - reached;
  }

 private:
  Duration steadyOffset() const {
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - origin_);
  }

  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  Duration skew_{};
};

// Runs what is posted at once, on the timer thread: the items only wake a waiter.
class InlineExecutor final : public Executor {
 public:
  void post(std::function<void()> work) override { work(); }
};

}  // namespace

ClientTimers::ClientTimers()
    : clock_(std::make_shared<AnyClock>(std::make_shared<SleepClockTime>())),
      queue_(clock_, [executor = std::make_shared<InlineExecutor>()] { return executor; }) {}

ClientTimers::~ClientTimers() = default;

std::shared_ptr<WorkItem> ClientTimers::after(double seconds, std::function<void()> body) {
  auto item = std::make_shared<WorkItem>(std::move(body));
  queue_.run(seconds, item);
  return item;
}

}  // namespace voduzazi::realtime
