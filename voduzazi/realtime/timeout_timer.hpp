// TimeoutTimer: counts attempts, asks its owner how long to wait before the next one, and runs
// the owner's callback on the main executor once that delay has passed. TimerQueue turns a
// delay into a scheduled run of a cancellable WorkItem.
//
//   auto timer = TimeoutTimer::make();
//   timer->callback.delegate(socket, [](Socket& s) { s.reconnect(); });
//   timer->timerCalculation.delegate(socket, [](Socket&, int tries) {
//     return Defaults::reconnectSteppedBackOff(tries);
//   });
//   timer->schedule();   // the callback runs after the delay of attempt tries() + 1
//   timer->reset();      // cancels a pending run and counts from the first attempt again
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/realtime/delegated.hpp"
#include "voduzazi/realtime/timer_clock.hpp"

namespace voduzazi::realtime {

// A body that runs at most once, unless cancelled before it starts.
// Shared objects: safe. Lifetime: shared by whoever may run or cancel it.
class WorkItem {
 public:
  explicit WorkItem(std::function<void()> body) : body_(std::move(body)) {}

  // Runs the body on the calling thread unless the item was cancelled or has already run.
  void perform();
  // A cancelled item that has not started never runs; its cancel handler runs once, now.
  void cancel();
  bool isCancelled() const noexcept { return cancelled_.load(); }
  // Called once on cancellation (at once when the item is already cancelled); how a scheduler
  // stops waiting for an item nobody wants any more.
  void setCancelHandler(std::function<void()> handler);

 private:
  std::mutex mutex_;
  std::function<void()> body_;
  std::function<void()> onCancel_;
  std::atomic<bool> cancelled_{false};
  bool started_ = false;
};

// One thread serves all the items of a queue, however many are pending: it sleeps on the clock
// until the earliest deadline and posts what is due to the executor.
// Shared objects: safe. Lifetime: shared() lives for the whole process; another queue's
// destructor drops its pending items and joins its thread (started on the first run()).
class TimerQueue {
 public:
  using ExecutorSource = std::function<std::shared_ptr<Executor>()>;

  // Waits on `clock` and runs items on the executor `executor` gives at the deadline (the main
  // executor installed at that time, by default).
  explicit TimerQueue(
      std::shared_ptr<AnyClock> clock = defaultTimerClock(),
      ExecutorSource executor = [] { return MainExecutor::current(); });

  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // The process-wide queue, made on first use.
  static const std::shared_ptr<TimerQueue>& shared();

  // Runs `item` on the executor at now plus `after` seconds, rounded half away from zero to
  // whole milliseconds; a delay of 0 ms posts it at once. A negative or NaN delay counts as 0;
  // one beyond the millisecond range never comes.
  void run(double after, std::shared_ptr<WorkItem> item) const;
  // The same, run on `executor` instead: work that must not wait for the main executor (an
  // application's busy main thread) still shares this queue's thread. The queue holds `executor`
  // weakly: an item that falls due as its executor goes is dropped, and this queue's thread does
  // not keep the executor (a strand with a thread of its own) alive past its owner.
  void run(double after, std::shared_ptr<WorkItem> item,
           const std::shared_ptr<Executor>& executor) const;

  // The rounding run() applies.
  static std::chrono::milliseconds delayFor(double seconds);

 private:
  class Scheduler;

  // Hands `item` to `post` at the deadline.
  void schedule(double after, std::function<void()> post,
                const std::shared_ptr<WorkItem>& item) const;

  std::shared_ptr<AnyClock> clock_;
  ExecutorSource executor_;
  std::shared_ptr<Scheduler> scheduler_;
};

// Shared objects: safe (schedule, reset and the run share the timer's lock; the owner's
// functions are called outside it). Lifetime: held by shared_ptr; a pending run keeps it alive.
// Set `callback` and `timerCalculation` before the first schedule().
class TimeoutTimer : public std::enable_shared_from_this<TimeoutTimer> {
 public:
  static std::shared_ptr<TimeoutTimer> make(
      std::shared_ptr<TimerQueue> queue = TimerQueue::shared());

  Delegated<void, void> callback;
  // Attempt number (1 for the first run after a reset) to delay in seconds.
  Delegated<int, double> timerCalculation;

  // Cancels a pending run, then plans the next: after timerCalculation(tries() + 1) seconds the
  // run adds one to tries() and calls `callback`. Nothing is planned when the calculation gives
  // nothing (no delegate, or its owner is gone).
  void schedule();
  // Forgets the attempts and cancels a pending run.
  void reset();
  std::int64_t tries() const;

 private:
  explicit TimeoutTimer(std::shared_ptr<TimerQueue> queue) : queue_(std::move(queue)) {}
  void fire();

  const std::shared_ptr<TimerQueue> queue_;
  mutable std::mutex mutex_;
  std::shared_ptr<WorkItem> workItem_;
  std::int64_t tries_ = 0;
};

}  // namespace voduzazi::realtime
