#include "voduzazi/realtime/timeout_timer.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <map>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/wait_for_end.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"

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

// The thread of one TimerQueue and its pending items, ordered by deadline. The thread sleeps on
// the clock until the earliest deadline; an earlier item, a cancelled earliest item or the
// queue's end wake it through the sleep's stop token.
class TimerQueue::Scheduler : public std::enable_shared_from_this<Scheduler> {
 public:
  explicit Scheduler(std::shared_ptr<AnyClock> clock) : clock_(std::move(clock)) {}

  void add(AnyClock::Instant deadline, std::function<void()> post,
           const std::shared_ptr<WorkItem>& item) {
    Key key;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      key = Key{deadline.offset, ++sequence_};
      pending_.emplace(key, std::move(post));
      if (!thread_) {
        // A task rather than a bare thread: a test clock's advance then waits until the queue
        // has posted what became due.
        thread_.emplace(Task<void>::detached([self = shared_from_this()] { self->loop(); }));
      }
      if (sleepingOn_ && key < *sleepingOn_) wake_.request_stop();
      changed_.notifyAll();
    }
    item->setCancelHandler([weak = weak_from_this(), key] {
      if (const auto self = weak.lock()) self->cancel(key);
    });
  }

  void stop() {
    std::optional<Task<void>> thread;
    Pending dropped;  // released after the lock: a body's end may cancel another item
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      dropped.swap(pending_);
      wake_.request_stop();
      changed_.notifyAll();
      thread = std::move(thread_);
    }
    if (!thread || std::this_thread::get_id() == threadId_.load()) return;
    thread->cancel();
    voduzazi::detail::waitForEnd(*thread);
  }

 private:
  using Key = std::pair<Duration, std::uint64_t>;  // deadline, then order of arrival
  // Each item's post step holds its WorkItem; dropping one may end its body, whose captures may
  // call back into this queue (cancel another item), so none is ever dropped under mutex_.
  using Pending = std::map<Key, std::function<void()>>;

  void cancel(const Key& key) {
    Pending::node_type dropped;  // declared first: destroyed after the lock is released
    std::unique_lock lock(mutex_);
    dropped = pending_.extract(key);
    if (dropped.empty() || sleepingOn_ != key) return;
    // Waits until the thread has left the sleep it had for this item, so that no sleep on the
    // clock outlives a cancelled item (a test clock counts them).
    const auto sleeps = sleeps_;
    wake_.request_stop();
    if (threadId_.load() == std::this_thread::get_id()) return;
    changed_.wait(lock, std::stop_token(), [&] { return sleeps_ != sleeps || stopping_; });
  }

  void loop() {
    threadId_ = std::this_thread::get_id();
    const auto cancelled = this_task::stopToken();
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, cancelled, [&] { return stopping_ || !pending_.empty(); });
      if (stopping_ || cancelled.stop_requested()) return;
      const Key first = pending_.begin()->first;
      std::stop_source wake;
      wake_ = wake;
      sleepingOn_ = first;
      lock.unlock();
      const bool slept = sleepUntil(first.first, wake.get_token());
      lock.lock();
      sleepingOn_.reset();
      ++sleeps_;
      changed_.notifyAll();
      if (stopping_) return;
      if (!slept) continue;
      const auto now = std::max(clock_->now().offset, first.first);
      std::vector<std::function<void()>> due;
      while (!pending_.empty() && pending_.begin()->first.first <= now) {
        due.push_back(std::move(pending_.begin()->second));
        pending_.erase(pending_.begin());
      }
      lock.unlock();
      for (const auto& post : due) post();
      due.clear();  // the last reference to an item whose work the executor dropped
      lock.lock();
    }
  }

  // False when woken early (or the clock cannot sleep: an item it cannot wait for never runs).
  bool sleepUntil(Duration deadline, std::stop_token token) {
    try {
      voduzazi::detail::ScopedStopToken scope(std::move(token));
      clock_->sleep(AnyClock::Instant{deadline});
      return true;
    } catch (const CancellationError&) {
      return false;
    } catch (...) {
      Pending dropped;  // released after the lock
      std::lock_guard lock(mutex_);
      while (!pending_.empty() && pending_.begin()->first.first <= deadline) {
        dropped.insert(pending_.extract(pending_.begin()));
      }
      return false;
    }
  }

  const std::shared_ptr<AnyClock> clock_;
  std::mutex mutex_;
  voduzazi::detail::WaitQueue changed_;
  Pending pending_;
  std::uint64_t sequence_ = 0;
  std::optional<Key> sleepingOn_;
  std::stop_source wake_;
  std::uint64_t sleeps_ = 0;
  bool stopping_ = false;
  std::optional<Task<void>> thread_;
  std::atomic<std::thread::id> threadId_{};
};

TimerQueue::TimerQueue(std::shared_ptr<AnyClock> clock, ExecutorSource executor)
    : clock_(std::move(clock)),
      executor_(std::move(executor)),
      scheduler_(std::make_shared<Scheduler>(clock_)) {}

TimerQueue::~TimerQueue() { scheduler_->stop(); }

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

namespace {

void performOn(Executor& executor, const std::shared_ptr<WorkItem>& item) {
  executor.post([item] { item->perform(); });
}

}  // namespace

void TimerQueue::run(double after, std::shared_ptr<WorkItem> item) const {
  schedule(after, [executor = executor_, item] { performOn(*executor(), item); }, item);
}

void TimerQueue::run(double after, std::shared_ptr<WorkItem> item,
                     const std::shared_ptr<Executor>& executor) const {
  schedule(
      after,
      [weak = std::weak_ptr<Executor>(executor), item] {
        if (const auto executor = weak.lock()) performOn(*executor, item);
      },
      item);
}

void TimerQueue::schedule(double after, std::function<void()> post,
                          const std::shared_ptr<WorkItem>& item) const {
  const auto delay = delayFor(after);
  if (delay == std::chrono::milliseconds::zero()) return post();
  if (delay == std::chrono::milliseconds::max()) return;
  scheduler_->add(clock_->now().advanced(delay), std::move(post), item);
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
