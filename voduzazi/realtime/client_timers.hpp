// ClientTimers: the time-outs of one second-generation realtime client (replies, join attempts,
// leaves, HTTP broadcasts), all served by one timer thread that waits on the library's sleep
// clock, so that a test clock controls them. The waiting itself stays on the caller's thread.
//
//   ClientTimers timers;
//   auto expiry = timers.after(60.0, [entry] { entry->expire(); });  // expiry->cancel() to drop
//   timers.withDeadline(10.0, [&] { waitForTheJoin(); });           // TimeoutError after 10 s
//   std::optional<PushStatus> status = timers.waitFor(reply, 10.0);  // nullopt: no reply in time
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/helpers/timeout.hpp"
#include "voduzazi/realtime/detail/one_shot.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {

// Shared objects: safe. Lifetime: the destructor drops the pending items and joins the timer
// thread (started on the first item), unless it runs on that thread.
class ClientTimers {
 public:
  ClientTimers();
  ~ClientTimers();
  ClientTimers(const ClientTimers&) = delete;
  ClientTimers& operator=(const ClientTimers&) = delete;

  // Runs `body` on the timer thread `seconds` from now, unless the returned item is cancelled
  // first. Bodies must be short and must not wait: they delay every other time-out.
  std::shared_ptr<WorkItem> after(double seconds, std::function<void()> body);
  // The timers' time, which moves with the sleep clock.
  AnyClock::Instant now() const { return clock_->now(); }

  // Runs `operation` on the calling thread and returns its result; when `seconds` pass first,
  // the operation is cancelled (its waits throw CancellationError) and this throws TimeoutError.
  // Cancelling the calling task cancels the operation too, and CancellationError comes out.
  template <class F>
  std::invoke_result_t<F&> withDeadline(double seconds, F operation);

  // The value, or nullopt when `seconds` pass before it comes. Throws CancellationError when the
  // calling task is cancelled.
  template <class T>
  std::optional<T> waitFor(const detail::OneShot<T>& value, double seconds) {
    try {
      return withDeadline(seconds, [&value] { return value.wait(); });
    } catch (const TimeoutError&) {
      return std::nullopt;
    }
  }

 private:
  std::shared_ptr<AnyClock> clock_;
  TimerQueue queue_;
};

}  // namespace voduzazi::realtime

// Implementation.

namespace voduzazi::realtime {

template <class F>
std::invoke_result_t<F&> ClientTimers::withDeadline(double seconds, F operation) {
  struct Deadline {
    std::stop_source stop;
    std::atomic<bool> passed{false};
  };
  const auto deadline = std::make_shared<Deadline>();
  const std::stop_token caller = this_task::stopToken();
  std::stop_callback forward(caller, [deadline] { deadline->stop.request_stop(); });
  const auto item = after(seconds, [deadline] {
    deadline->passed = true;
    deadline->stop.request_stop();
  });
  struct Disarm {
    const std::shared_ptr<WorkItem>& item;
    ~Disarm() { item->cancel(); }
  } disarm{item};
  try {
    voduzazi::detail::ScopedStopToken scope(deadline->stop.get_token());
    return operation();
  } catch (const CancellationError&) {
    if (deadline->passed && !caller.stop_requested()) throw TimeoutError();
    throw;
  }
}

}  // namespace voduzazi::realtime
