#include "voduzazi/realtime/broadcast_queue.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "voduzazi/concurrency/detail/wait_for_end.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/detail/log.hpp"

namespace voduzazi::realtime {

namespace {

PushStatus sendNow(HTTPClientType& http, const helpers::HTTPRequest& request,
                   const std::shared_ptr<VoduzaziLogger>& logger) {
  try {
    const int code = http.send(request).statusCode();
    if (code >= 200 && code <= 299) return PushStatus::ok;
    detail::logError(
        logger, [&] { return "Broadcast over HTTP failed with status " + std::to_string(code); });
  } catch (const CancellationError&) {
    throw;
  } catch (const std::exception& error) {
    detail::logError(logger,
                     [&] { return std::string("Broadcast over HTTP failed: ") + error.what(); });
  }
  return PushStatus::error;
}

// The time-out as a duration; one beyond the clock's range never runs out.
Duration timeoutOf(double seconds) {
  if (!(seconds > 0)) return Duration::zero();
  const double limit = std::chrono::duration<double>(Duration::max() / 4).count();
  if (seconds >= limit) return Duration::max() / 4;
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

struct BroadcastQueue::State : std::enable_shared_from_this<State> {
  struct Entry {
    helpers::HTTPRequest request;
    detail::OneShot<PushStatus> done;
    AnyClock::Instant deadline;
    std::shared_ptr<WorkItem> expiry;  // set before the entry is queued
  };

  State(std::shared_ptr<HTTPClientType> client, ClientTimers& clientTimers,
        std::shared_ptr<VoduzaziLogger> log, std::size_t workers)
      : http(std::move(client)),
        timers(clientTimers),
        logger(std::move(log)),
        maxWorkers(std::max<std::size_t>(workers, 1)) {}

  void enqueue(const std::shared_ptr<Entry>& entry) {
    std::lock_guard lock(mutex);
    if (stopping) return entry->done.send(PushStatus::error);
    waiting.push_back(entry);
    if (running == maxWorkers) return;
    ++running;
    std::erase_if(workers, [](const Task<void>& worker) { return worker.isFinished(); });
    workers.push_back(Task<void>::detached([self = shared_from_this()] { self->work(); }));
  }

  // On the timer thread: a broadcast nobody could send before its time-out fails unsent.
  void expire(const std::shared_ptr<Entry>& entry) {
    {
      std::lock_guard lock(mutex);
      const auto found = std::find(waiting.begin(), waiting.end(), entry);
      if (stopping || found == waiting.end()) return;
      waiting.erase(found);
      ++callingOut;
    }
    dropUnsent(*entry);
    std::lock_guard lock(mutex);
    if (--callingOut == 0) changed.notify_all();
  }

  void dropUnsent(const Entry& entry) const {
    detail::logError(logger, [] {
      return std::string("Broadcast over HTTP not sent: no sender was free before its time-out");
    });
    entry.done.send(PushStatus::error);
  }

  void work() {
    while (const auto entry = next()) {
      entry->expiry->cancel();
      const Duration left = timers.now().durationTo(entry->deadline);
      if (left <= Duration::zero()) {
        dropUnsent(*entry);
        continue;
      }
      helpers::HTTPRequest request = entry->request;
      request.timeoutInterval = std::chrono::duration<double>(left).count();
      try {
        entry->done.send(sendNow(*http, request, logger));
      } catch (const CancellationError&) {
        entry->done.send(PushStatus::error);  // the queue is going away
        return;
      }
    }
  }

  // The oldest waiting broadcast, or null when none waits (the worker then ends).
  std::shared_ptr<Entry> next() {
    std::lock_guard lock(mutex);
    if (stopping || waiting.empty()) {
      --running;
      return nullptr;
    }
    auto entry = std::move(waiting.front());
    waiting.pop_front();
    return entry;
  }

  void stop() {
    std::vector<Task<void>> started;
    std::list<std::shared_ptr<Entry>> dropped;
    {
      std::unique_lock lock(mutex);
      stopping = true;
      dropped.swap(waiting);
      started.swap(workers);
      changed.wait(lock, [&] { return callingOut == 0; });
    }
    for (const auto& entry : dropped) {
      entry->expiry->cancel();
      entry->done.send(PushStatus::error);
    }
    for (auto& worker : started) worker.cancel();
    for (auto& worker : started) voduzazi::detail::waitForEnd(worker);
  }

  const std::shared_ptr<HTTPClientType> http;
  ClientTimers& timers;
  const std::shared_ptr<VoduzaziLogger> logger;
  const std::size_t maxWorkers;
  std::mutex mutex;
  std::condition_variable changed;
  std::list<std::shared_ptr<Entry>> waiting;
  std::vector<Task<void>> workers;  // running, or finished and not yet pruned
  std::size_t running = 0;
  int callingOut = 0;  // expiries logging outside the lock
  bool stopping = false;
};

BroadcastQueue::BroadcastQueue(std::shared_ptr<HTTPClientType> http, ClientTimers& timers,
                               std::shared_ptr<VoduzaziLogger> logger, std::size_t workers)
    : state_(std::make_shared<State>(std::move(http), timers, std::move(logger), workers)) {}

BroadcastQueue::~BroadcastQueue() { close(); }

void BroadcastQueue::close() { state_->stop(); }

void BroadcastQueue::send(helpers::HTTPRequest request, detail::OneShot<PushStatus> done) {
  const Duration timeout = timeoutOf(request.timeoutInterval);
  auto entry = std::make_shared<State::Entry>(State::Entry{
      std::move(request), std::move(done), state_->timers.now().advanced(timeout), nullptr});
  // The expiry holds the entry weakly, so that the entry never keeps itself alive.
  entry->expiry = state_->timers.after(
      std::chrono::duration<double>(timeout).count(),
      [weakState = std::weak_ptr<State>(state_), weakEntry = std::weak_ptr<State::Entry>(entry)] {
        const auto state = weakState.lock();
        const auto waiting = weakEntry.lock();
        if (state && waiting) state->expire(waiting);
      });
  state_->enqueue(entry);
}

}  // namespace voduzazi::realtime
