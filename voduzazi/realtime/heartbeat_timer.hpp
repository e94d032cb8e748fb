// HeartbeatTimer: a repeating timer that runs its handler on a serial queue one period after
// start() and then once every period, until stop(). Each tick waits on a TimerQueue, so every
// running heartbeat of a process shares that queue's one thread, which posts it to the queue
// directly: ticks never wait for the main executor.
//
//   auto timer = std::make_shared<HeartbeatTimer>(30.0);   // the shared heartbeat queue
//   timer->start([socket] { socket->sendHeartbeat(); });
//   timer->stop();
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "voduzazi/concurrency/serial_executor.hpp"
#include "voduzazi/realtime/defaults.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {

// Shared objects: safe (start and stop take the timer's lock; ticks run on `queue`).
// Lifetime: destroying the timer stops it; a tick already queued then does nothing.
class HeartbeatTimer {
 public:
  // `timeInterval` in seconds is both the first delay and the period; each tick waits on
  // `timers` (a queue on a test clock in tests).
  explicit HeartbeatTimer(double timeInterval,
                          std::chrono::nanoseconds leeway = Defaults::heartbeatLeeway,
                          std::shared_ptr<Executor> queue = Defaults::heartbeatQueue(),
                          std::shared_ptr<TimerQueue> timers = TimerQueue::shared());
  ~HeartbeatTimer();
  HeartbeatTimer(const HeartbeatTimer&) = delete;
  HeartbeatTimer& operator=(const HeartbeatTimer&) = delete;

  // Starts ticking, replacing a running timer (whose handler then never runs again); the first
  // tick comes one full period from now.
  void start(std::function<void()> handler);
  // Ends ticking and drops the handler (a tick already queued then does nothing); nothing
  // happens on a stopped timer. It never waits for a tick.
  void stop();
  bool isRunning() const;

  double timeInterval() const noexcept { return timeInterval_; }
  std::chrono::nanoseconds leeway() const noexcept { return leeway_; }
  // A random UUID text made at construction: the timer's identity.
  const std::string& uuid() const noexcept { return uuid_; }

  friend bool operator==(const HeartbeatTimer& a, const HeartbeatTimer& b) {
    return a.uuid_ == b.uuid_;
  }

 private:
  // One running timer, held here alone: its planned tick and its queued handler calls hold it
  // weakly, so that dropping it ends them.
  struct Running;

  const double timeInterval_;
  const std::chrono::nanoseconds leeway_;
  const std::shared_ptr<Executor> queue_;
  const std::shared_ptr<TimerQueue> timers_;
  const std::string uuid_;
  mutable std::mutex mutex_;
  std::shared_ptr<Running> running_;
};

}  // namespace voduzazi::realtime
