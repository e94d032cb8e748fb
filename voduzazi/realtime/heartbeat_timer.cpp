#include "voduzazi/realtime/heartbeat_timer.hpp"

#include <algorithm>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "voduzazi/helpers/detail/seconds.hpp"

namespace voduzazi::realtime {

HeartbeatTimer::HeartbeatTimer(double timeInterval, std::chrono::nanoseconds leeway,
                               std::shared_ptr<Executor> queue, std::shared_ptr<AnyClock> clock)
    : timeInterval_(timeInterval),
      leeway_(leeway),
      queue_(std::move(queue)),
      clock_(std::move(clock)),
      uuid_(boost::uuids::to_string(boost::uuids::random_generator()())) {}

HeartbeatTimer::~HeartbeatTimer() { stop(); }

void HeartbeatTimer::start(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  stopLocked();
  auto active = std::make_shared<std::atomic<bool>>(true);
  auto tick = std::make_shared<const std::function<void()>>(std::move(handler));
  // A period of (nearly) nothing would spin; a millisecond is the floor.
  const Duration period = std::max<Duration>(voduzazi::detail::durationFromSeconds(timeInterval_),
                                             std::chrono::milliseconds(1));
  Task<void> ticker = Task<void>::detached(
      [clock = clock_, queue = queue_, active, tick, period, leeway = leeway_] {
        auto deadline = clock->now();
        for (;;) {
          deadline = deadline.advanced(period);
          clock->sleep(deadline, leeway);  // a stop cancels the task and ends the sleep
          queue->post([active, tick] {
            if (active->load()) (*tick)();
          });
        }
      });
  running_.emplace(Running{std::move(active), std::move(ticker)});
}

void HeartbeatTimer::stop() {
  std::lock_guard lock(mutex_);
  stopLocked();
}

bool HeartbeatTimer::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_.has_value();
}

void HeartbeatTimer::stopLocked() {
  if (!running_) return;
  running_->active->store(false);
  running_->ticker.cancel();
  // The ticker only sleeps and posts, so waiting for it to end is quick and cannot deadlock; a
  // stopped timer then leaves no thread behind.
  try {
    running_->ticker.value();
  } catch (...) {
    // its cancelled sleep
  }
  running_.reset();
}

}  // namespace voduzazi::realtime
