#include "voduzazi/realtime/heartbeat_timer.hpp"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <utility>

namespace voduzazi::realtime {

struct HeartbeatTimer::Running {
  Running(std::function<void()> handler, double period, std::shared_ptr<Executor> queue,
          std::shared_ptr<TimerQueue> timers)
      : handler(std::move(handler)),
        period(period),
        queue(std::move(queue)),
        timers(std::move(timers)) {}

  // Plans the next tick, one period from now, unless stopped. A tick that comes late shifts the
  // later ones by as much: a heartbeat needs its period, not a fixed phase. The timer queue's
  // thread hands each tick straight to `queue`, never through the main executor, so that a busy
  // application thread holds back no heartbeat and no detection of a silent peer.
  static void planNext(const std::shared_ptr<Running>& running) {
    auto item = std::make_shared<WorkItem>([weak = std::weak_ptr<Running>(running)] {
      const auto self = weak.lock();
      if (!self) return;
      planNext(self);
      if (self->isActive()) self->handler();
    });
    {
      std::lock_guard lock(running->mutex);
      if (!running->active) return;
      running->next = item;
    }
    running->timers->run(running->period, std::move(item), running->queue);
  }

  bool isActive() {
    std::lock_guard lock(mutex);
    return active;
  }

  // Ends the ticks; a planned one is cancelled outside the lock.
  void stop() {
    std::shared_ptr<WorkItem> planned;
    {
      std::lock_guard lock(mutex);
      active = false;
      planned = std::move(next);
    }
    if (planned) planned->cancel();
  }

  const std::function<void()> handler;
  const double period;
  const std::shared_ptr<Executor> queue;
  const std::shared_ptr<TimerQueue> timers;
  std::mutex mutex;
  bool active = true;
  std::shared_ptr<WorkItem> next;
};

HeartbeatTimer::HeartbeatTimer(double timeInterval, std::chrono::nanoseconds leeway,
                               std::shared_ptr<Executor> queue, std::shared_ptr<TimerQueue> timers)
    : timeInterval_(timeInterval),
      leeway_(leeway),
      queue_(std::move(queue)),
      timers_(std::move(timers)),
      uuid_(boost::uuids::to_string(boost::uuids::random_generator()())) {}

HeartbeatTimer::~HeartbeatTimer() { stop(); }

void HeartbeatTimer::start(std::function<void()> handler) {
  // A period of (nearly) nothing would spin; a millisecond is the floor (NaN too).
  const double period = timeInterval_ >= 0.001 ? timeInterval_ : 0.001;
  auto running = std::make_shared<Running>(std::move(handler), period, queue_, timers_);
  std::shared_ptr<Running> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(running_, running);
  }
  if (previous) previous->stop();
  Running::planNext(running);
}

void HeartbeatTimer::stop() {
  std::shared_ptr<Running> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::move(running_);
  }
  if (previous) previous->stop();
}

bool HeartbeatTimer::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_ != nullptr;
}

}  // namespace voduzazi::realtime
