#include "voduzazi/realtime/timeout_timer.hpp"

#include <cmath>
#include <limits>

#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::realtime {

void WorkItem::perform() {
  std::function<void()> body;
  {
    std::lock_guard lock(mutex_);
    if (started_ || cancelled_.load()) return;
    started_ = true;
    body = std::move(body_);
  }
  body();
}

void WorkItem::cancel() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true)) return;
    handler = std::move(onCancel_);
  }
  if (handler) handler();
}

void WorkItem::setCancelHandler(std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_.load()) {
      onCancel_ = std::move(handler);
      return;
    }
  }
  handler();
}

TimerQueue::TimerQueue(std::shared_ptr<AnyClock> clock, ExecutorSource executor)
    : clock_(std::move(clock)), executor_(std::move(executor)) {}

const std::shared_ptr<TimerQueue>& TimerQueue::shared() {
  static const auto* queue = new std::shared_ptr<TimerQueue>(std::make_shared<TimerQueue>());
  return *queue;
}

std::chrono::milliseconds TimerQueue::delayFor(double seconds) {
  const double milliseconds = std::round(seconds * 1000.0);  // halves away from zero
  if (!(milliseconds > 0)) return std::chrono::milliseconds::zero();
  if (milliseconds >= static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
    return std::chrono::milliseconds::max();
  }
  return std::chrono::milliseconds(static_cast<std::int64_t>(milliseconds));
}

void TimerQueue::run(double after, std::shared_ptr<WorkItem> item) const {
  const auto delay = delayFor(after);
  auto post = [executor = executor_, item] { executor()->post([item] { item->perform(); }); };
  if (delay == std::chrono::milliseconds::zero()) return post();
  if (delay == std::chrono::milliseconds::max()) return;
  const auto deadline = clock_->now().advanced(delay);
  Task<void> waiter = Task<void>::detached([clock = clock_, deadline, post] {
    clock->sleep(deadline);  // cancelling the item cancels this task and ends the sleep
    post();
  });
  item->setCancelHandler([waiter] {
    waiter.cancel();
    // The waiter only sleeps and posts: waiting for it is quick and leaves no thread behind.
    try {
      waiter.value();
    } catch (...) {
      // its cancelled sleep
    }
  });
}

std::shared_ptr<TimeoutTimer> TimeoutTimer::make(std::shared_ptr<TimerQueue> queue) {
  return std::shared_ptr<TimeoutTimer>(new TimeoutTimer(std::move(queue)));
}

void TimeoutTimer::schedule() {
  std::shared_ptr<WorkItem> previous;
  std::int64_t attempt = 0;
  {
    std::lock_guard lock(mutex_);
    previous = std::move(workItem_);
    attempt = tries_ + 1;
  }
  if (previous) previous->cancel();
  const auto delay = timerCalculation.call(static_cast<int>(attempt));
  if (!delay) return;
  auto item = std::make_shared<WorkItem>([self = shared_from_this()] { self->fire(); });
  {
    std::lock_guard lock(mutex_);
    // A schedule or reset that ran meanwhile decided later; its item wins.
    if (workItem_) return;
    workItem_ = item;
  }
  queue_->run(*delay, std::move(item));
}

void TimeoutTimer::reset() {
  std::shared_ptr<WorkItem> previous;
  {
    std::lock_guard lock(mutex_);
    tries_ = 0;
    previous = std::move(workItem_);
  }
  if (previous) previous->cancel();
}

std::int64_t TimeoutTimer::tries() const {
  std::lock_guard lock(mutex_);
  return tries_;
}

void TimeoutTimer::fire() {
  {
    std::lock_guard lock(mutex_);
    ++tries_;
  }
  callback.call();
}

}  // namespace voduzazi::realtime
